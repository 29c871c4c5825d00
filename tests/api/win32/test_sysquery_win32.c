/* The system queries as Windows answers them under Wine: the product's
 * registry key (made by the test set-up with `wine reg add`, taken away and
 * put back here), each drive's type and free space as the system's own calls
 * give them, the screen of the set-up's X server and the system's version. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../check.h"
#include <razivu/sysquery.h>

#define PRODUCT_KEY "SOFTWARE\\BRENVOLT"
#define DRIFT_KB (256 * 1000) /* other processes write to the disk meanwhile */

int main(void) {
    int32_t (*const queries[])(const char *, int32_t *) = {IsFixedDrive, IsRemoteDrive,
                                                           IsCDROMDrive, IsRemovableDrive};
    const UINT types[] = {DRIVE_FIXED, DRIVE_REMOTE, DRIVE_CDROM, DRIVE_REMOVABLE};
    const char *const roots[] = {"C:\\", "D:\\", "Z:\\", "Q:\\"}; /* Q: is no drive */
    const DWORD v = GetVersion();
    const char *screen = getenv("RAZIVU_TEST_SCREEN");
    char version[RAZIVU_OS_VERSION_CAP], platform[RAZIVU_OS_PLATFORM_CAP], text[32];
    int32_t flag = 77, width = 0, height = 0;
    uint32_t free_kb = 0;
    ULARGE_INTEGER avail, total, total_free;
    HKEY key;
    size_t i, q;

    CHECK(HasProductRegistryKey() == 1);
    CHECK(RegDeleteKeyA(HKEY_LOCAL_MACHINE, PRODUCT_KEY) == ERROR_SUCCESS);
    CHECK(HasProductRegistryKey() == 0);
    CHECK(RegCreateKeyA(HKEY_LOCAL_MACHINE, PRODUCT_KEY, &key) == ERROR_SUCCESS);
    RegCloseKey(key);
    CHECK(HasProductRegistryKey() == 1);

    for (i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
        for (q = 0; q < sizeof queries / sizeof queries[0]; ++q) {
            CHECK(queries[q](roots[i], &flag) == RAZIVU_STATUS_OK);
            CHECK(flag == (GetDriveTypeA(roots[i]) == types[q]));
        }
        free_kb = 77;
        if (GetDiskFreeSpaceExA(roots[i], &avail, &total, &total_free)) {
            CHECK(GetDiskFreeKB(roots[i], &free_kb) == RAZIVU_STATUS_OK);
            CHECK(free_kb + DRIFT_KB >= avail.QuadPart / 1000 && free_kb <= avail.QuadPart / 1000 + DRIFT_KB);
        } else {
            CHECK(GetDiskFreeKB(roots[i], &free_kb) == RAZIVU_STATUS_NO_FREE_SPACE && free_kb == 0);
        }
    }
    CHECK(GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR);

    CHECK(screen != NULL && GetScreenSize(&width, &height) == RAZIVU_STATUS_OK);
    snprintf(text, sizeof text, "%dx%d", (int)width, (int)height);
    CHECK(screen != NULL && strcmp(text, screen) == 0);

    CHECK(GetOSVersion(version, platform) == RAZIVU_STATUS_OK);
    snprintf(text, sizeof text, "%d.%d", (int)LOBYTE(LOWORD(v)), (int)HIBYTE(LOWORD(v)));
    CHECK(strcmp(version, text) == 0);
    CHECK(strcmp(platform, (v & 0x80000000u) == 0 ? "Windows NT" : "Windows 95") == 0);
    return check_summary();
}
