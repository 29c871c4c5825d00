/* The calendar functions from a plain C client, linked against the shared
 * library: known dates both ways, lenient counting, clipping and refusals. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "check.h"
#include <razivu/calendar.h>

struct known {
    int32_t day, month, year, n;
};

static void known_dates_both_ways(void) {
    static const struct known rows[] = {
        {1, 1, 1900, 1},       {28, 2, 1900, 59},     {1, 3, 1900, 60},
        {31, 12, 1900, 365},   {1, 1, 1901, 366},     {29, 2, 1904, 1520},
        {31, 12, 1999, 36524}, {29, 2, 2000, 36584},  {31, 12, 9999, 2958464},
        {0, 0, 0, 0},          {11, 7, 5881510, INT32_MAX},
    };
    size_t i;
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        int32_t d = -1, m = -1, y = -1;
        CHECK(VIZIGetDaysSince1900(rows[i].day, rows[i].month, rows[i].year) == rows[i].n);
        CHECK(VIZIGetDMYFromDaysSince1900(rows[i].n, &d, &m, &y) == 0);
        CHECK(d == rows[i].day && m == rows[i].month && y == rows[i].year);
    }
}

static void lenient_counting_and_clipping(void) {
    CHECK(VIZIGetDaysSince1900(32, 1, 1900) == 32);
    CHECK(VIZIGetDaysSince1900(0, 1, 1900) == 0);
    CHECK(VIZIGetDaysSince1900(1, 13, 1900) == 366);
    CHECK(VIZIGetDaysSince1900(1, 25, 1900) == VIZIGetDaysSince1900(1, 1, 1902));
    CHECK(VIZIGetDaysSince1900(1, 1, 1899) == 1);
    CHECK(VIZIGetDaysSince1900(12, 7, 5881510) == INT32_MAX);
    CHECK(VIZIGetDaysSince1900(INT32_MAX, INT32_MAX, INT32_MAX) == INT32_MAX);
    CHECK(VIZIGetDaysSince1900(INT32_MIN, 1, 1900) == INT32_MIN);
}

static void leap_years_and_validity(void) {
    CHECK(VIZIIsLeapYear(2000) == 1 && VIZIIsLeapYear(1900) == 0 && VIZIIsLeapYear(0) == 1);
    CHECK(VIZIIsLeapYear(-400) == 1 && VIZIIsLeapYear(-100) == 0);
    CHECK(VIZIIsDateValid(29, 2, 2000) == 1 && VIZIIsDateValid(29, 2, 1900) == 0);
    CHECK(VIZIIsDateValid(1, 13, 2000) == 0 && VIZIIsDateValid(1, 1, 1800) == 1);
}

static void refusals_leave_outputs_alone(void) {
    int32_t d = 77, m = 77, y = 77;
    CHECK(VIZIGetDMYFromDaysSince1900(-1, &d, &m, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(INT32_MIN, &d, &m, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(1, NULL, &m, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(1, &d, NULL, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(1, &d, &m, NULL) == -1);
    CHECK(d == 77 && m == 77 && y == 77);
}

int main(void) {
    known_dates_both_ways();
    lenient_counting_and_clipping();
    leap_years_and_validity();
    refusals_leave_outputs_alone();
    return check_summary();
}
