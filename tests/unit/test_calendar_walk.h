// The day number of a date as a naive walk from 1900 over the two
// month-length tables: the reference the closed forms must equal in the tests
// and beat in the benchmark.
#pragma once

#include <cstdint>

namespace razivu::walk {

constexpr int32_t month_lengths[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                          {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

inline bool is_leap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

inline int32_t month_length(int64_t year, int32_t month) {
    return month_lengths[is_leap(year) ? 1 : 0][month - 1];
}

// Where a walk over whole years stands: 1 January of year is day number before + 1.
struct YearMark {
    int64_t year = 1900;
    int64_t before = 0;
    YearMark &walk_to(int64_t to) {
        for (; year < to; ++year) {
            before += is_leap(year) ? 366 : 365;
        }
        return *this;
    }
};

// Day number of day/month/year in 64 bits: the whole years from from.year
// (none for an earlier year), then month by month, running on past December.
inline int64_t days_of(int32_t day, int32_t month, int32_t year, YearMark from = {}) {
    int64_t n = from.walk_to(year).before + day;
    for (int32_t k = 0; k + 1 < month; ++k) {
        n += month_length(year + k / 12, k % 12 + 1);
    }
    return n;
}

}  // namespace razivu::walk
