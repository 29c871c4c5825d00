/* The calendar functions from a plain C client, linked against the shared
 * library: known dates both ways, lenient counting, clipping and refusals. */
#include <stdint.h>

#include "check.h"
#include <razivu/calendar.h>

static const struct {
    int32_t day, month, year, n;
} known[] = {
    {1, 1, 1900, 1},      {1, 3, 1900, 60},        {1, 1, 1901, 366},
    {29, 2, 2000, 36584}, {31, 12, 9999, 2958464}, {0, 0, 0, 0},
    {11, 7, 5881510, INT32_MAX},
};

int main(void) {
    size_t i;
    int32_t d = 77, m = 77, y = 77;
    for (i = 0; i < sizeof known / sizeof known[0]; ++i) {
        CHECK(VIZIGetDaysSince1900(known[i].day, known[i].month, known[i].year) == known[i].n);
        CHECK(VIZIGetDMYFromDaysSince1900(known[i].n, &d, &m, &y) == 0);
        CHECK(d == known[i].day && m == known[i].month && y == known[i].year);
    }
    CHECK(VIZIGetDaysSince1900(32, 1, 1900) == 32 && VIZIGetDaysSince1900(1, 13, 1900) == 366);
    CHECK(VIZIGetDaysSince1900(1, 25, 1900) == VIZIGetDaysSince1900(1, 1, 1902));
    CHECK(VIZIGetDaysSince1900(INT32_MAX, INT32_MAX, INT32_MAX) == INT32_MAX);
    CHECK(VIZIIsLeapYear(2000) == 1 && VIZIIsLeapYear(1900) == 0 && VIZIIsLeapYear(-400) == 1);
    CHECK(VIZIIsDateValid(29, 2, 2000) == 1 && VIZIIsDateValid(29, 2, 1900) == 0);
    d = m = y = 77;
    CHECK(VIZIGetDMYFromDaysSince1900(-1, &d, &m, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(INT32_MIN, &d, &m, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(1, NULL, &m, &y) == -1 && VIZIGetDMYFromDaysSince1900(1, &d, NULL, &y) == -1);
    CHECK(VIZIGetDMYFromDaysSince1900(1, &d, &m, NULL) == -1);
    CHECK(d == 77 && m == 77 && y == 77);
    return check_summary();
}
