// The calendar conversions as naive year-by-year walks from 1900 over the two
// month-length tables: the reference the closed forms must equal. Only the
// start of the year loop may be moved on (YearMark), so that increasing
// samples need not start from 1900 each time.
#pragma once

#include <cstdint>
#include <ostream>

namespace razivu::walk {

constexpr int32_t months_per_year = 12;
constexpr int32_t common_year[months_per_year] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int32_t leap_year[months_per_year] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

inline bool is_leap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

inline const int32_t *table_of(int64_t year) {
    return is_leap(year) ? leap_year : common_year;
}

inline int32_t year_length(int64_t year) {
    return is_leap(year) ? 366 : 365;
}

// Where a year loop stands: 1 January of year has day number before + 1.
struct YearMark {
    int64_t year = 1900;
    int64_t before = 0;
};

// Day number of day/month/year in 64 bits; months past December run on into
// the following years. from must not lie beyond year.
inline int64_t days_of(int32_t day, int32_t month, int32_t year, YearMark from = {}) {
    int64_t n = from.before;
    for (int64_t y = from.year; y < year; ++y) {
        n += year_length(y);
    }
    int64_t y = year;
    int32_t m = 1;
    for (int32_t k = 1; k < month; ++k) {
        n += table_of(y)[m - 1];
        if (++m > months_per_year) {
            m = 1;
            ++y;
        }
    }
    return n + day;
}

// The date of day number n, stored through the pointers as the walk goes.
// With mark, the year loop starts there (mark->before must not exceed n) and
// leaves there the start of the year it ended in.
inline int32_t date_of(int32_t n, int32_t *day, int32_t *month, int32_t *year,
                       YearMark *mark = nullptr) {
    if (n < 0 || day == nullptr || month == nullptr || year == nullptr) {
        return -1;
    }
    if (n == 0) {
        *day = *month = *year = 0;
        return 0;
    }
    const YearMark start = mark != nullptr ? *mark : YearMark{};
    const int32_t n_in = n;
    n = static_cast<int32_t>(n - start.before);
    *day = 1;
    *month = 1;
    *year = static_cast<int32_t>(start.year);
    for (int32_t len = year_length(*year); n >= len; len = year_length(*year)) {
        n -= len;
        ++*year;
    }
    if (mark != nullptr) {
        *mark = YearMark{*year, n_in - n};
    }
    if (n == 0) {
        --*year;
        *day = 31;
        *month = 12;
        return 0;
    }
    const int32_t *table = table_of(*year);
    while (*month <= months_per_year && n >= table[*month - 1]) {
        n -= table[*month - 1];
        ++*month;
    }
    if (n != 0) {
        *day = n;
        return 0;
    }
    --*month;
    *day = table[*month - 1];
    return 0;
}

// A date as the tests compare and print it.
struct Dmy {
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    bool operator==(const Dmy &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const Dmy &d) {
    return out << d.day << "/" << d.month << "/" << d.year;
}

}  // namespace razivu::walk
