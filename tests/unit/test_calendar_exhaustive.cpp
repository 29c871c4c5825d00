// The closed forms against the year-by-year walk: every day number up to
// 31 December 9999, a spread over the whole positive 32-bit range, and many
// threads converting at once.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "razivu/calendar.h"
#include "tests/unit/test_calendar_walk.h"

namespace {

namespace walk = razivu::walk;
using walk::Dmy;

constexpr int32_t last_day_of_9999 = 2958464;

// The walk's date of n, its year loop resumed from mark (n never decreases).
Dmy walked(int32_t n, walk::YearMark *mark) {
    Dmy d;
    walk::date_of(n, &d.day, &d.month, &d.year, mark);
    return d;
}

Dmy closed_form(int32_t n) {
    Dmy d{-1, -1, -1};
    EXPECT_EQ(VIZIGetDMYFromDaysSince1900(n, &d.day, &d.month, &d.year), 0) << n;
    return d;
}

TEST(CalendarExhaustive, Every_day_number_to_31_December_9999_converts_like_the_walk) {
    walk::YearMark mark;
    for (int32_t n = 0; n <= last_day_of_9999; ++n) {
        const Dmy want = walked(n, &mark);
        ASSERT_EQ(closed_form(n), want) << n;
        ASSERT_EQ(VIZIGetDaysSince1900(want.day, want.month, want.year), n) << want;
        ASSERT_EQ(VIZIIsDateValid(want.day, want.month, want.year), n == 0 ? 0 : 1) << want;
        if (n % 4099 == 0) {  // the resumed walk must equal the walk from 1900
            ASSERT_EQ(walked(n, nullptr), want) << n;
            ASSERT_EQ(walk::days_of(want.day, want.month, want.year), n) << want;
        }
    }
    EXPECT_EQ(closed_form(last_day_of_9999), (Dmy{31, 12, 9999}));
}

TEST(CalendarExhaustive, Day_numbers_across_the_positive_range_convert_like_the_walk) {
    constexpr int64_t stride = 524309;  // prime: the samples fall on every day of the month
    constexpr int64_t dense_from = INT32_MAX - 1000;  // every number from here on
    walk::YearMark mark;
    for (int64_t n64 = 0; n64 <= INT32_MAX;
         n64 += n64 < dense_from ? std::min(stride, dense_from - n64) : 1) {
        const auto n = static_cast<int32_t>(n64);
        const Dmy want = walked(n, &mark);
        ASSERT_EQ(closed_form(n), want) << n;
        ASSERT_EQ(VIZIGetDaysSince1900(want.day, want.month, want.year), n) << want;
        if (n == 0) {
            continue;
        }
        // Unusual arguments far from 1900, the walk restarted two years back.
        walk::YearMark from = mark;
        for (int back = 0; back < 2; ++back) {
            from.before -= walk::year_length(--from.year);
        }
        for (const int32_t day : {-400, 0, 45}) {
            for (int32_t month = 0; month <= 14; month += 7) {
                const int64_t n_walk = walk::days_of(day, month, want.year, from);
                ASSERT_EQ(VIZIGetDaysSince1900(day, month, want.year),
                          n_walk > INT32_MAX ? INT32_MAX : n_walk)
                    << day << "/" << month << "/" << want.year;
            }
        }
    }
}

TEST(CalendarExhaustive, Conversions_agree_when_called_from_many_threads) {
    constexpr int32_t n_days = 146097 * 2;  // two 400-year cycles
    constexpr int n_threads = 8;
    std::vector<Dmy> want(n_days + 1);
    walk::YearMark mark;
    for (int32_t n = 0; n <= n_days; ++n) {
        want[n] = walked(n, &mark);
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < n_threads; ++t) {
        threads.emplace_back([&, t] {
            for (int32_t i = 0; i <= n_days; ++i) {  // each thread starts elsewhere
                const int32_t n = (i + t * (n_days / n_threads)) % (n_days + 1);
                Dmy got;
                if (VIZIGetDMYFromDaysSince1900(n, &got.day, &got.month, &got.year) != 0 ||
                    got != want[n] || VIZIGetDaysSince1900(got.day, got.month, got.year) != n) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto &th : threads) {
        th.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
