// The exported calendar functions: thin C entry points over the closed-form
// arithmetic of calendar_internal.h.
#include "calendar/calendar_internal.h"

#include "diagnostics/boundary.h"
#include "razivu/calendar.h"

namespace razivu::calendar {
namespace {

constexpr bool round_trips(Date date, int32_t n) noexcept {
    return day_number(date.day, date.month, date.year) == n && date_of(n) == date;
}

static_assert(round_trips({0, 0, 0}, 0));
static_assert(round_trips({1, 1, 1900}, 1));
static_assert(round_trips({28, 2, 1900}, 59));
static_assert(round_trips({1, 3, 1900}, 60));
static_assert(round_trips({31, 12, 1900}, 365));
static_assert(round_trips({29, 2, 1904}, 1520));
static_assert(round_trips({31, 12, 1999}, 36524));
static_assert(round_trips({29, 2, 2000}, 36584));
static_assert(round_trips({1, 1, 2026}, 46022));
static_assert(round_trips({31, 12, 9999}, 2958464));
static_assert(round_trips({11, 7, 5881510}, max_day_number));

static_assert(day_number(32, 1, 1900) == 32);
static_assert(day_number(0, 1, 1900) == 0);
static_assert(day_number(1, 13, 1900) == 366);
static_assert(day_number(1, 25, 1900) == day_number(1, 1, 1902));
static_assert(day_number(1, 1, 1899) == 1);
static_assert(day_number(1, 13, 1899) == 366);
static_assert(day_number(12, 7, 5881510) == max_day_number);
static_assert(day_number(INT32_MAX, INT32_MAX, INT32_MAX) == max_day_number);
static_assert(day_number(INT32_MIN, INT32_MIN, INT32_MIN) == INT32_MIN);

}  // namespace
}  // namespace razivu::calendar

extern "C" RAZIVU_API int32_t VIZIIsLeapYear(int32_t year) try {
    return razivu::calendar::is_leap(year) ? 1 : 0;
} RAZIVU_CATCH(0, nullptr)

extern "C" RAZIVU_API int32_t VIZIIsDateValid(int32_t day, int32_t month, int32_t year) try {
    return razivu::calendar::is_valid(day, month, year) ? 1 : 0;
} RAZIVU_CATCH(0, nullptr)

extern "C" RAZIVU_API int32_t VIZIGetDaysSince1900(int32_t day, int32_t month, int32_t year) try {
    return razivu::calendar::day_number(day, month, year);
} RAZIVU_CATCH(0, nullptr)

// Each output is written once, year first and day last, and only on success.
extern "C" RAZIVU_API int32_t VIZIGetDMYFromDaysSince1900(int32_t days, int32_t *day,
                                                          int32_t *month, int32_t *year) try {
    if (days < 0 || day == nullptr || month == nullptr || year == nullptr) {
        return -1;
    }
    const razivu::calendar::Date date = razivu::calendar::date_of(days);
    *year = date.year;
    *month = date.month;
    *day = date.day;
    return 0;
} RAZIVU_CATCH(-1, nullptr)
