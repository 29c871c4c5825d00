/* The exports of razivu.dll as a program that loads it finds them by name
 * (GetProcAddress): the calendar family, called with the C calling convention
 * many times over (a wrong convention unbalances the 32-bit stack), and the
 * DDE callback by its plain name only. */
#include <windows.h>
#include <stdint.h>

#include "../check.h"

#define CALLS 1000

typedef void (*Any)(void);

static Any find(HMODULE dll, const char *name) {
    return (Any)GetProcAddress(dll, name);
}

int main(void) {
    HMODULE dll = LoadLibraryA("razivu.dll");
    int32_t (*const leap)(int32_t) = (int32_t (*)(int32_t))find(dll, "VIZIIsLeapYear");
    int32_t (*const valid)(int32_t, int32_t, int32_t) =
        (int32_t (*)(int32_t, int32_t, int32_t))find(dll, "VIZIIsDateValid");
    int32_t (*const days)(int32_t, int32_t, int32_t) =
        (int32_t (*)(int32_t, int32_t, int32_t))find(dll, "VIZIGetDaysSince1900");
    int32_t (*const dmy)(int32_t, int32_t *, int32_t *, int32_t *) =
        (int32_t (*)(int32_t, int32_t *, int32_t *, int32_t *))find(dll, "VIZIGetDMYFromDaysSince1900");
    const char *const absent[] = {"_VIZIIsLeapYear", "VIZIIsLeapYear@4", "ProgmanDdeCallback@32",
                                  "_ProgmanDdeCallback@32"};
    int32_t d = 0, m = 0, y = 0, i, sum = 0;
    CHECK(dll != NULL && leap != NULL && valid != NULL && days != NULL && dmy != NULL);
    if (leap == NULL || valid == NULL || days == NULL || dmy == NULL) {
        return check_summary();
    }
    for (i = 0; i < CALLS; ++i) {
        sum += leap(2000) + valid(29, 2, 1900) + days(29, 2, 2000) + dmy(36584, &d, &m, &y);
    }
    CHECK(sum == CALLS * (1 + 0 + 36584 + 0));
    CHECK(d == 29 && m == 2 && y == 2000);
    CHECK(find(dll, "ProgmanDdeCallback") != NULL);
    for (i = 0; i < (int32_t)(sizeof absent / sizeof absent[0]); ++i) {
        CHECK(find(dll, absent[i]) == NULL);
    }
    return check_summary();
}
