// The calendar functions on chosen dates: known day numbers, leap years,
// validity, the lenient counting of unusual arguments, the clipping at the
// top of the 32-bit range and the refusals of the way back.
#include <cstdint>

#include <gtest/gtest.h>

#include "razivu/calendar.h"
#include "tests/unit/test_calendar_walk.h"

namespace {

namespace walk = razivu::walk;
using walk::Dmy;

constexpr Dmy last_date{11, 7, 5881510};  // day number INT32_MAX

int32_t days(const Dmy &d) {
    return VIZIGetDaysSince1900(d.day, d.month, d.year);
}

TEST(Calendar, Known_dates_and_day_numbers_convert_both_ways) {
    const struct { Dmy date; int32_t n; } cases[] = {
        {{0, 0, 0}, 0},          {{1, 1, 1900}, 1},       {{31, 1, 1900}, 31},
        {{28, 2, 1900}, 59},     {{1, 3, 1900}, 60},      {{31, 12, 1900}, 365},
        {{1, 1, 1901}, 366},     {{1, 1, 1904}, 1461},    {{29, 2, 1904}, 1520},
        {{31, 12, 1999}, 36524}, {{1, 1, 2000}, 36525},   {{29, 2, 2000}, 36584},
        {{1, 3, 2000}, 36585},   {{1, 1, 2026}, 46022},   {{31, 12, 9999}, 2958464},
        {last_date, INT32_MAX},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(days(c.date), c.n) << c.date;
        Dmy got{-7, -7, -7};
        EXPECT_EQ(VIZIGetDMYFromDaysSince1900(c.n, &got.day, &got.month, &got.year), 0) << c.n;
        EXPECT_EQ(got, c.date) << c.n;
    }
}

TEST(Calendar, IsLeapYear_applies_the_Gregorian_rule_to_any_year) {
    const struct { int32_t year, leap; } cases[] = {
        {1904, 1},      {2000, 1},       {1600, 1},        {1900, 0},        {2100, 0},
        {1999, 0},      {0, 1},          {-4, 1},          {-400, 1},        {-100, 0},
        {-1, 0},        {-1900, 0},      {-2000, 1},       {INT32_MIN, 1},   {INT32_MAX, 0},
        {2147483600, 1}, {2147483500, 0}, {-2147483600, 1}, {-2147483500, 0},
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

TEST(Calendar, IsDateValid_accepts_exactly_the_days_of_the_month_tables) {
    for (const int32_t year : {INT32_MIN, -100, -4, -1, 0, 1800, 1900, 1904, 2000, INT32_MAX}) {
        for (int32_t month = -1; month <= 14; ++month) {
            for (int32_t day = -1; day <= 33; ++day) {
                const bool in_tables = month >= 1 && month <= 12 && day >= 1 &&
                                       day <= walk::table_of(year)[month - 1];
                ASSERT_EQ(VIZIIsDateValid(day, month, year), in_tables ? 1 : 0)
                    << Dmy{day, month, year};
            }
        }
    }
}

TEST(Calendar, GetDaysSince1900_counts_unusual_arguments_like_the_walk) {
    for (const int32_t year : {-401, -400, -100, -4, -1, 0, 1, 4, 100, 1600, 1800, 1896, 1899,
                               1900, 1901, 1903, 1904, 1999, 2000, 2100}) {
        for (int32_t month = -2; month <= 40; ++month) {
            for (int32_t day = -40; day <= 70; ++day) {
                ASSERT_EQ(VIZIGetDaysSince1900(day, month, year), walk::days_of(day, month, year))
                    << Dmy{day, month, year};
            }
        }
    }
}

// Months past 13 run on into later years; before 1900 the run-on years
// count while the year itself still adds none.
TEST(Calendar, GetDaysSince1900_lets_months_past_13_run_on_into_later_years) {
    const struct { Dmy run_on, same_day; } cases[] = {
        {{1, 25, 1900}, {1, 1, 1902}},   {{15, 14, 1999}, {15, 2, 2000}},
        {{29, 26, 1902}, {29, 2, 1904}}, {{1, 1 + 12 * 8099, 1900}, {1, 1, 9999}},
        {{0, 37, 1950}, {31, 12, 1952}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(days(c.run_on), days(c.same_day)) << c.run_on;
    }
    EXPECT_EQ(days({1, 25, 1898}), 365 + 365 + 1);
    EXPECT_EQ(days({1, 1 + 12 * 400, -400}), 146097 + 1);
}

// Results past INT32_MAX clip to it; only the day is ever subtracted, so
// the low end never clips.
TEST(Calendar, GetDaysSince1900_clips_numbers_past_INT32_MAX_to_INT32_MAX) {
    const struct { Dmy date; int32_t n; } cases[] = {
        {{12, 7, 5881510}, INT32_MAX},        {{1, 1, 5881511}, INT32_MAX},
        {{10, 7, 5881510}, INT32_MAX - 1},    {{INT32_MAX, 2, 1900}, INT32_MAX},
        {{INT32_MAX, 13, 1899}, INT32_MAX},   {{INT32_MIN, 1, INT32_MAX}, INT32_MAX},
        {{1, INT32_MAX, INT32_MIN}, INT32_MAX}, {{INT32_MAX, INT32_MAX, INT32_MAX}, INT32_MAX},
        {{INT32_MIN, 1, 1900}, INT32_MIN},    {{INT32_MIN, INT32_MIN, INT32_MIN}, INT32_MIN},
        {{INT32_MIN, 13, 1900}, INT32_MIN + 365}, {{1, 1, INT32_MIN}, 1},
        {{0, 0, INT32_MIN}, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(days(c.date), c.n) << c.date;
    }
    // Near the top, against the walk started a year before the last date.
    const walk::YearMark mark{last_date.year - 1, walk::days_of(0, 1, last_date.year - 1)};
    for (int32_t year = last_date.year - 1; year <= last_date.year + 1; ++year) {
        for (int32_t month = 0; month <= 26; ++month) {
            for (const int32_t day : {INT32_MIN, -400, 0, 1, 31, 200, 400, INT32_MAX}) {
                const int64_t n = walk::days_of(day, month, year, mark);
                ASSERT_EQ(days({day, month, year}), n > INT32_MAX ? INT32_MAX : n)
                    << Dmy{day, month, year};
            }
        }
    }
}

TEST(Calendar, Extreme_arguments_give_results_that_never_undercut_the_day) {
    const int32_t values[] = {INT32_MIN, INT32_MIN + 1, -13, -1, 0, 1, 2, 12, 13,
                              1899, 1900, 5881510, 5881511, INT32_MAX - 1, INT32_MAX};
    for (const int32_t d : values) {
        for (const int32_t m : values) {
            for (const int32_t y : values) {
                const int32_t n = days({d, m, y});
                ASSERT_GE(n, d) << Dmy{d, m, y};
                if (y > last_date.year && d >= 0) {
                    ASSERT_EQ(n, INT32_MAX) << Dmy{d, m, y};
                }
                const bool valid = d >= 1 && d <= 28 && m >= 1 && m <= 12;  // no day above 28
                ASSERT_EQ(VIZIIsDateValid(d, m, y), valid ? 1 : 0) << Dmy{d, m, y};
            }
        }
    }
}

TEST(Calendar, GetDMYFromDaysSince1900_refuses_bad_arguments_and_leaves_outputs_untouched) {
    Dmy out{-7, -7, -7};
    for (const int32_t n : {-1, -2, -365, INT32_MIN}) {
        EXPECT_EQ(VIZIGetDMYFromDaysSince1900(n, &out.day, &out.month, &out.year), -1) << n;
    }
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, nullptr, &out.month, &out.year), -1);
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, &out.day, nullptr, &out.year), -1);
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(1, &out.day, &out.month, nullptr), -1);
    EXPECT_EQ(out, (Dmy{-7, -7, -7}));
}

}  // namespace
