// The calendar functions against the naive walk from 1900: every day number
// to 31 December 9999, a spread over the whole positive 32-bit range, unusual
// arguments, the clipping at the top of the range and the refusals of the way
// back.
#include <algorithm>
#include <cstdint>
#include <ostream>

#include <gtest/gtest.h>

#include "razivu/calendar.h"
#include "tests/unit/test_calendar_walk.h"

namespace {

struct Dmy {
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    bool operator==(const Dmy &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Dmy &d) {
    return out << d.day << "/" << d.month << "/" << d.year;
}

constexpr Dmy last_date{11, 7, 5881510};  // day number INT32_MAX
using razivu::walk::month_length;
using razivu::walk::YearMark;
using razivu::walk::days_of;

int32_t days(const Dmy &d) {
    return VIZIGetDaysSince1900(d.day, d.month, d.year);
}

Dmy date_of(int32_t n) {
    Dmy d{-7, -7, -7};
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(n, &d.day, &d.month, &d.year), 0) << n;
    return d;
}

TEST(Calendar, every_day_number_to_31_december_9999_is_the_day_after_the_one_before) {
    EXPECT_EQ(date_of(0), (Dmy{0, 0, 0})) << "the empty date";
    Dmy d{31, 12, 1899};
    for (int32_t n = 1; n <= 2958464; ++n) {
        if (++d.day > month_length(d.year, d.month)) {
            d.day = 1;
            d.month = d.month % 12 + 1;
            d.year += d.month == 1 ? 1 : 0;
        }
        ASSERT_EQ(date_of(n), d) << n;
        ASSERT_EQ(days(d), n) << d;
        ASSERT_EQ(VIZIIsDateValid(d.day, d.month, d.year), 1) << d;
    }
    EXPECT_EQ(d, (Dmy{31, 12, 9999}));
}

// Results past INT32_MAX clip to it.
TEST(Calendar, day_numbers_across_the_positive_range_convert_like_the_walk) {
    constexpr int64_t stride = 524309;                // prime: the samples fall on every day of the month
    constexpr int64_t dense_from = INT32_MAX - 1000;  // every number from here on
    YearMark mark;
    for (int64_t n = 1; n <= INT32_MAX; n += n < dense_from ? std::min(stride, dense_from - n) : 1) {
        const Dmy d = date_of(static_cast<int32_t>(n));
        mark.walk_to(d.year);
        ASSERT_TRUE(d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= month_length(d.year, d.month)) << d;
        ASSERT_EQ(days_of(d.day, d.month, d.year, mark), n) << d;
        ASSERT_EQ(days(d), n) << d;
        for (const int32_t day : {-400, 0, 45}) {  // unusual arguments far from 1900
            for (const int32_t month : {0, 7, 14}) {
                ASSERT_EQ(days({day, month, d.year}), std::min<int64_t>(days_of(day, month, d.year, mark), INT32_MAX))
                    << Dmy{day, month, d.year};
            }
        }
    }
}

TEST(Calendar, IsLeapYear_applies_the_gregorian_rule_to_any_year) {
    const struct { int32_t year, leap; } cases[] = {
        {1904, 1}, {2000, 1}, {1900, 0}, {1999, 0}, {0, 1}, {-100, 0}, {-400, 1}, {INT32_MIN, 1}, {INT32_MAX, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(VIZIIsLeapYear(c.year), c.leap) << c.year;
    }
    // Every 400 years hold 97 leap years, wherever they start.
    for (const int32_t start : {INT32_MIN, -1000201, -399, -1, 0, 1899, 1000001, INT32_MAX - 399}) {
        int32_t n = 0;
        for (int32_t k = 0; k < 400; ++k) {
            n += VIZIIsLeapYear(start + k);
        }
        EXPECT_EQ(n, 97) << "from " << start;
    }
}

// Months past 13 run on into later years; before 1900 the run-on years
// count while the year itself still adds none. Valid are exactly the days of
// the month tables.
TEST(Calendar, GetDaysSince1900_counts_unusual_arguments_like_the_walk_and_IsDateValid_follows_the_tables) {
    for (const int32_t year : {-401, -400, -100, -4, -1, 0, 1, 4, 100, 1600, 1800, 1896, 1899, 1900, 1901, 1903,
                               1904, 1999, 2000, 2100}) {
        for (int32_t month = -2; month <= 40; ++month) {
            for (int32_t day = -40; day <= 70; ++day) {
                ASSERT_EQ(days({day, month, year}), days_of(day, month, year)) << Dmy{day, month, year};
                const bool valid = month >= 1 && month <= 12 && day >= 1 && day <= month_length(year, month);
                ASSERT_EQ(VIZIIsDateValid(day, month, year), valid ? 1 : 0) << Dmy{day, month, year};
            }
        }
    }
}

// Only the day is ever subtracted, so the low end never clips.
TEST(Calendar, GetDaysSince1900_clips_numbers_past_INT32_MAX_to_INT32_MAX) {
    const struct { Dmy date; int32_t n; } cases[] = {
        {{12, 7, 5881510}, INT32_MAX},          {{1, 1, 5881511}, INT32_MAX},
        {{INT32_MAX, 2, 1900}, INT32_MAX},      {{INT32_MAX, 13, 1899}, INT32_MAX},
        {{INT32_MIN, 1, INT32_MAX}, INT32_MAX}, {{1, INT32_MAX, INT32_MIN}, INT32_MAX},
        {{INT32_MIN, 1, 1900}, INT32_MIN},      {{INT32_MIN, 13, 1900}, INT32_MIN + 365},
        {{1, 1, INT32_MIN}, 1},                 {{0, 0, INT32_MIN}, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(days(c.date), c.n) << c.date;
    }
    YearMark mark;
    mark.walk_to(last_date.year - 1);
    for (int32_t year = last_date.year - 1; year <= last_date.year + 1; ++year) {
        for (int32_t month = 0; month <= 26; ++month) {
            for (const int32_t day : {INT32_MIN, -400, 0, 1, 31, 200, 400, INT32_MAX}) {
                ASSERT_EQ(days({day, month, year}), std::min<int64_t>(days_of(day, month, year, mark), INT32_MAX))
                    << Dmy{day, month, year};
            }
        }
    }
}

// A negative day number or a missing output is refused and no output written.
TEST(Calendar, GetDMYFromDaysSince1900_refuses_negative_numbers_and_missing_outputs) {
    Dmy d{77, 77, 77};
    for (const int32_t n : {-1, INT32_MIN}) {
        EXPECT_EQ(VIZIGetDMYFromDaysSince1900(n, &d.day, &d.month, &d.year), -1) << n;
    }
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, nullptr, &d.month, &d.year), -1);
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, &d.day, nullptr, &d.year), -1);
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, &d.day, &d.month, nullptr), -1);
    EXPECT_EQ(d, (Dmy{77, 77, 77}));
}

TEST(Calendar, extreme_arguments_give_results_that_never_undercut_the_day) {
    const int32_t values[] = {INT32_MIN, INT32_MIN + 1, -13, -1, 0, 1, 2, 12, 13, 29,
                              1899, 1900, 5881510, 5881511, INT32_MAX - 1, INT32_MAX};
    for (const int32_t d : values) {
        for (const int32_t m : values) {
            for (const int32_t y : values) {
                const int32_t n = days({d, m, y});
                ASSERT_GE(n, d) << Dmy{d, m, y};
                if (y > last_date.year && d >= 0) {
                    ASSERT_EQ(n, INT32_MAX) << Dmy{d, m, y};
                }
                const bool valid = m >= 1 && m <= 12 && d >= 1 && d <= month_length(y, m);
                ASSERT_EQ(VIZIIsDateValid(d, m, y), valid ? 1 : 0) << Dmy{d, m, y};
            }
        }
    }
}

}  // namespace
