// razivu days D M Y: the day number of a date (1 January 1900 is day 1).
// razivu date N: the date of a day number, printed as "D M Y" so that it can
// be fed back to `razivu days`.
#include <cstdint>
#include <cstdio>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"

namespace razivu_tool {

const Help days_help{
    "days",
    "D M Y",
    "print the day number of a date (1 January 1900 is day 1)",
    "D, M and Y are the day, the month and the full year (1999, not 99). Dates are counted,\n"
    "not checked: 32 1 1900 is 1 February, a month of 13 is January of the next year; a\n"
    "note on standard error says when the date is not in the calendar. 0 0 0 is day 0.\n"
    "  $ razivu days 31 12 1999\n"
    "  36524",
    {},
    Operands::none};

const Help date_help{
    "date",
    "N",
    "print the date of a day number as D M Y",
    "The output can be fed back to razivu days. Day 0 is the empty date 0 0 0; negative\n"
    "numbers have no date (exit status 1).\n"
    "  $ razivu date 36525\n"
    "  1 1 2000",
    {},
    Operands::none};

int cmd_days(int argc, char **argv) {
    constexpr int n_args = 3;
    const char *const names[n_args] = {"D", "M", "Y"};
    int32_t dmy[n_args] = {};
    if (!parse_numbers(days_help, argc, argv, names, dmy, n_args)) {
        return exit_usage;
    }
    const int32_t n = VIZIGetDaysSince1900(dmy[0], dmy[1], dmy[2]);
    std::printf("%d\n", static_cast<int>(n));
    // Counting on past a month's end is the function's contract, not an
    // error, but a user who mistyped a date should hear of it.
    const bool empty_date = dmy[0] == 0 && dmy[1] == 0 && dmy[2] == 0;
    if (VIZIIsDateValid(dmy[0], dmy[1], dmy[2]) == 0 && !empty_date) {
        std::fprintf(stderr, "razivu days: note: %d/%d/%d is not a calendar date; counted on\n",
                     static_cast<int>(dmy[0]), static_cast<int>(dmy[1]), static_cast<int>(dmy[2]));
    }
    if (n == INT32_MAX) {
        std::fprintf(stderr, "razivu days: note: the last day number; later dates give it too\n");
    }
    return exit_ok;
}

int cmd_date(int argc, char **argv) {
    const char *const names[] = {"N"};
    int32_t n = 0;
    if (!parse_numbers(date_help, argc, argv, names, &n, 1)) {
        return exit_usage;
    }
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    if (VIZIGetDMYFromDaysSince1900(n, &day, &month, &year) != 0) {
        std::fprintf(stderr, "razivu date: no date has the day number %d (numbers start at 0)\n",
                     static_cast<int>(n));
        return exit_failed;
    }
    std::printf("%d %d %d\n", static_cast<int>(day), static_cast<int>(month),
                static_cast<int>(year));
    return exit_ok;
}

}  // namespace razivu_tool
