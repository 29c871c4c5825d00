/*
 * Calendar functions: dates (day, month, year) and day numbers counted from
 * 1 January 1900 as day 1, 0 being the empty date 0/0/0. No state; safe to
 * call from any thread.
 */
#ifndef RAZIVU_CALENDAR_H
#define RAZIVU_CALENDAR_H

#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

RAZIVU_API int32_t VIZIIsLeapYear(int32_t year);
RAZIVU_API int32_t VIZIIsDateValid(int32_t day, int32_t month, int32_t year);
RAZIVU_API int32_t VIZIGetDaysSince1900(int32_t day, int32_t month, int32_t year);
RAZIVU_API int32_t VIZIGetDMYFromDaysSince1900(int32_t days, int32_t *day, int32_t *month,
                                               int32_t *year);

RAZIVU_END_DECLS

#endif
