// razivu days D M Y: the day number of a date (1 January 1900 is day 1).
// razivu date N: the date of a day number, printed as "D M Y" so that it can
// be fed back to `razivu days`.
#include <cstdint>
#include <cstdio>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/options.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object instead of the numbers"},
};

// The n numbers of a command line that may carry --json among them.
bool parse_calendar(const Help &help, int argc, char **argv, const char *const *names,
                    int32_t *values_out, int n, bool &json_out) {
    Args args;
    json_out = false;
    if (!parse_args(help, argc, argv, n, n, args) || !parse_numbers(help, args, names, values_out, n)) {
        return false;
    }
    json_out = args.has("--json");
    return true;
}

}  // namespace

const Help days_help{
    "days",
    "D M Y",
    "print the day number of a date (1 January 1900 is day 1)",
    "D, M and Y are the day, the month and the full year (1999, not 99). Dates are counted,\n"
    "not checked: 32 1 1900 is 1 February, a month of 13 is January of the next year; a\n"
    "note on standard error says when the date is not in the calendar. 0 0 0 is day 0.\n"
    "  $ razivu days 31 12 1999\n"
    "  36524\n"
    "With --json: {\"day\":31,\"month\":12,\"year\":1999,\"number\":36524,\"valid\":true}.",
    options,
    Operands::none};

const Help date_help{
    "date",
    "N",
    "print the date of a day number as D M Y",
    "The output can be fed back to razivu days. Day 0 is the empty date 0 0 0; negative\n"
    "numbers have no date (exit status 1).\n"
    "  $ razivu date 36525\n"
    "  1 1 2000\n"
    "With --json: {\"number\":36525,\"day\":1,\"month\":1,\"year\":2000}.",
    options,
    Operands::none};

int cmd_days(int argc, char **argv) {
    constexpr int n_args = 3;
    const char *const names[n_args] = {"D", "M", "Y"};
    int32_t dmy[n_args] = {};
    bool json = false;
    if (!parse_calendar(days_help, argc, argv, names, dmy, n_args, json)) {
        return exit_usage;
    }
    const int32_t n = VIZIGetDaysSince1900(dmy[0], dmy[1], dmy[2]);
    const bool valid = VIZIIsDateValid(dmy[0], dmy[1], dmy[2]) != 0;
    if (json) {
        std::printf("%s\n", JsonObject()
                                .number("day", dmy[0])
                                .number("month", dmy[1])
                                .number("year", dmy[2])
                                .number("number", n)
                                .boolean("valid", valid)
                                .str()
                                .c_str());
    } else {
        std::printf("%d\n", static_cast<int>(n));
    }
    // Counting on past a month's end is the function's contract, not an
    // error, but a user who mistyped a date should hear of it.
    const bool empty_date = dmy[0] == 0 && dmy[1] == 0 && dmy[2] == 0;
    if (!valid && !empty_date) {
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
    bool json = false;
    if (!parse_calendar(date_help, argc, argv, names, &n, 1, json)) {
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
    if (json) {
        std::printf("%s\n", JsonObject()
                                .number("number", n)
                                .number("day", day)
                                .number("month", month)
                                .number("year", year)
                                .str()
                                .c_str());
    } else {
        std::printf("%d %d %d\n", static_cast<int>(day), static_cast<int>(month),
                    static_cast<int>(year));
    }
    return exit_ok;
}

}  // namespace razivu_tool
