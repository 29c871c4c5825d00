// razivu days D M Y: the day number of a date (1 January 1900 is day 1).
// razivu date N: the date of a day number, printed as "D M Y" so that it can
// be fed back to `razivu days`.
#include <cstdint>
#include <cstdio>

#include <razivu/razivu.h>

#include "commands.h"
#include "numbers.h"

namespace razivu_tool {

// Parses argv[0..n) into values_out, naming the first bad argument.
bool parse_args(const char *cmd, char **argv, const char *const *names, int32_t *values_out,
                int n) {
    for (int i = 0; i < n; ++i) {
        if (!parse_int32(argv[i], INT32_MIN, INT32_MAX, values_out[i])) {
            std::fprintf(stderr, "razivu %s: %s must be a 32-bit integer, not '%s'\n", cmd,
                         names[i], argv[i]);
            return false;
        }
    }
    return true;
}

int cmd_days(int argc, char **argv) {
    constexpr int n_args = 3;
    const char *const names[n_args] = {"D", "M", "Y"};
    int32_t dmy[n_args] = {};
    if (argc != n_args) {
        std::fprintf(stderr, "usage: razivu days D M Y   (day, month, full year)\n");
        return exit_usage;
    }
    if (!parse_args("days", argv, names, dmy, n_args)) {
        return exit_usage;
    }
    const int32_t n = VIZIGetDaysSince1900(dmy[0], dmy[1], dmy[2]);
    std::printf("%d\n", static_cast<int>(n));
    // Counting on past a month's end is the function's contract, not an
    // error, but a user who mistyped a date should hear of it.
    const bool empty_date = dmy[0] == 0 && dmy[1] == 0 && dmy[2] == 0;
    if (VIZIIsDateValid(dmy[0], dmy[1], dmy[2]) == 0 && !empty_date) {
        std::fprintf(stderr, "razivu days: note: %s/%s/%s is not a calendar date; counted on\n",
                     argv[0], argv[1], argv[2]);
    }
    if (n == INT32_MAX) {
        std::fprintf(stderr, "razivu days: note: the last day number; later dates give it too\n");
    }
    return exit_ok;
}

int cmd_date(int argc, char **argv) {
    const char *const names[] = {"N"};
    int32_t n = 0;
    if (argc != 1) {
        std::fprintf(stderr, "usage: razivu date N   (day number, 1 = 1 January 1900)\n");
        return exit_usage;
    }
    if (!parse_args("date", argv, names, &n, 1)) {
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
