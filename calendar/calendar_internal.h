// Calendar arithmetic behind the exported VIZI functions, in closed form:
// every conversion is a fixed number of integer operations, whatever the
// year. Reachable by tests and benchmarks.
//
// Day numbers count from 1 January 1900 (day 1) on the proleptic Gregorian
// calendar; the Hinnant-style formulas below work on days since 1 March of
// year 0, where leap days fall at the end of each 4-, 100- and 400-year cycle.
#pragma once

#include <cstdint>

namespace razivu::calendar {

constexpr int32_t epoch_year = 1900;
constexpr int32_t months_per_year = 12;
constexpr int32_t days_per_400_years = 146097;
// Days from 1 March of year 0 to 31 December 1899, i.e. to day number 0.
constexpr int64_t days_before_epoch = 693900;
// Largest day number an int32_t holds: 11 July 5881510.
constexpr int32_t max_day_number = INT32_MAX;

struct Date {
    int32_t day;
    int32_t month;
    int32_t year;
};

constexpr bool operator==(const Date &a, const Date &b) noexcept {
    return a.day == b.day && a.month == b.month && a.year == b.year;
}

// The sign of year never matters: % keeps the dividend's sign, and a zero
// remainder is zero either way.
constexpr bool is_leap(int64_t year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// month in [1, 12].
constexpr int32_t month_length(int32_t month, bool leap) noexcept {
    constexpr int32_t common[months_per_year] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap ? 29 : common[month - 1];
}

constexpr bool is_valid(int32_t day, int32_t month, int32_t year) noexcept {
    return month >= 1 && month <= months_per_year && day >= 1 &&
           day <= month_length(month, is_leap(year));
}

// Day number of the first day of (year, month), month in [1, 12]. The
// callers pass |year| < 2^32, where |result| < 2^41.
constexpr int64_t first_of_month(int64_t year, int32_t month) noexcept {
    const int64_t y = year - (month <= 2);                             // March-based year
    const int64_t era = (y >= 0 ? y : y - 399) / 400;                   // floor(y / 400)
    const int64_t yoe = y - era * 400;                                  // [0, 399]
    const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;  // [0, 337]
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;          // [0, 146096]
    return era * days_per_400_years + doe - days_before_epoch + 1;
}

// The day number of day/month/year with the leniency of the year-by-year
// count it replaces: days outside the month run on into the neighbouring
// months, a month of 1 or below adds no months, a month above 12 runs on
// into the following years, and a year before 1900 adds no whole years (the
// count starts at its own 1 January). A count above max_day_number gives
// max_day_number; none can fall below INT32_MIN, since only the day can be
// negative.
constexpr int32_t day_number(int32_t day, int32_t month, int32_t year) noexcept {
    const int64_t months_before = month > 1 ? int64_t{month} - 1 : 0;   // [0, 2^31 - 2]
    const int64_t run_year = year + months_before / months_per_year;    // [-2^31, 2^31 + 2^28)
    const auto run_month = static_cast<int32_t>(months_before % months_per_year) + 1;
    const int64_t origin = first_of_month(year < epoch_year ? year : epoch_year, 1);
    const int64_t n = first_of_month(run_year, run_month) - origin + day;  // [-2^31, 2^41)
    return n > max_day_number ? max_day_number : static_cast<int32_t>(n);
}

// The date of day number n >= 1 (0 is the empty date 0/0/0). All steps stay
// unsigned and below 2^32, so the 32-bit build needs no 64-bit division.
constexpr Date date_of(int32_t n) noexcept {
    if (n <= 0) {
        return Date{0, 0, 0};
    }
    const uint32_t z = static_cast<uint32_t>(n) + uint32_t{days_before_epoch};  // < 2^32
    const uint32_t era = z / days_per_400_years;                                // [4, 14703]
    const uint32_t doe = z - era * days_per_400_years;                          // [0, 146096]
    const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
    const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
    const uint32_t mp = (5 * doy + 2) / 153;                                    // [0, 11]
    const auto month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    const auto day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto year = static_cast<int32_t>(era * 400 + yoe) + (month <= 2);
    return Date{day, month, year};
}

}  // namespace razivu::calendar
