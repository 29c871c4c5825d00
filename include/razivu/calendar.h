/*
 * Calendar functions: dates (day, month, year) and day numbers counted from
 * 1 January 1900 as day 1, 0 being the empty date 0/0/0. Gregorian calendar,
 * full year numbers (1999, not 99). Constant time for every input, no state,
 * no allocation; safe to call from any thread.
 */
#ifndef RAZIVU_CALENDAR_H
#define RAZIVU_CALENDAR_H

#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

/* 1 when year is a Gregorian leap year, else 0. Any year: 0, -4 and -400 are
 * leap years, -100 is not. */
RAZIVU_API int32_t VIZIIsLeapYear(int32_t year);

/* 1 when month is 1 to 12 and day lies within that month of that year, else
 * 0. Any year can form a valid date, also 0 and negative ones. */
RAZIVU_API int32_t VIZIIsDateValid(int32_t day, int32_t month, int32_t year);

/* The day number of a date. Arguments are not validated, they are counted:
 * - a day beyond its month runs on into the next months (32/1/1900 = 32),
 *   a day of 0 or below counts back (0/1/1900 = 0);
 * - a month of 1 or below adds no months; a month above 12 runs on into the
 *   following years (1/13/1900 = 1/1/1901, 1/25/1900 = 1/1/1902);
 * - a year before 1900 adds no whole years: the result is the place of the
 *   date counted from 1 January of its own year (1/1/1899 = 1,
 *   1/13/1899 = 366).
 * 0/0/0 gives 0. A date whose number would pass INT32_MAX (2147483647, the
 * number of 11/7/5881510) gives INT32_MAX: a result of INT32_MAX means "that
 * day or later". Results never fall below INT32_MIN, so nothing else clips. */
RAZIVU_API int32_t VIZIGetDaysSince1900(int32_t day, int32_t month, int32_t year);

/* Stores the date of day number days (0 gives 0/0/0; every other date is
 * valid) and returns 0. A negative number or a null pointer returns -1 and
 * stores nothing. Each output is written once; pass three distinct variables. */
RAZIVU_API int32_t VIZIGetDMYFromDaysSince1900(int32_t days, int32_t *day, int32_t *month,
                                               int32_t *year);

RAZIVU_END_DECLS

#endif
