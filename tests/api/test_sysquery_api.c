/* The system queries from a plain C client, linked against the shared
 * library: the version texts in buffers of exactly the documented sizes, and
 * refusals that leave outputs alone (what each drive is, its free space and
 * the registry key: test_sysquery_posix.cpp and win32/test_sysquery_win32.c). */
#include <stdint.h>
#include <string.h>

#include "check.h"
#include <razivu/sysquery.h>

int main(void) {
    int32_t (*const queries[])(const char *, int32_t *) = {IsFixedDrive, IsRemoteDrive,
                                                           IsCDROMDrive, IsRemovableDrive};
    /* Only a letter and a colon name a drive. */
    const char *const no_drives[] = {NULL, "\\\\server\\share\\", "\\", "9:\\", "", " C:\\", "\xC4:\\"};
    char version[RAZIVU_OS_VERSION_CAP], platform[RAZIVU_OS_PLATFORM_CAP];
    int32_t flag = 77, width = 77;
    uint32_t free_kb = 77;
    size_t i, j;
    for (i = 0; i < sizeof queries / sizeof queries[0]; ++i) {
        for (j = 0; j < sizeof no_drives / sizeof no_drives[0]; ++j) {
            CHECK(queries[i](no_drives[j], &flag) == RAZIVU_STATUS_FAILED && flag == 77);
        }
        CHECK(queries[i]("C:\\", NULL) == RAZIVU_STATUS_FAILED);
    }
    memset(version, '#', sizeof version);
    memset(platform, '#', sizeof platform);
    CHECK(GetOSVersion(version, platform) == RAZIVU_STATUS_OK);
    CHECK(memchr(version, '\0', sizeof version) != NULL && strchr(version, '.') != NULL);
    CHECK(memchr(platform, '\0', sizeof platform) != NULL);
    CHECK(GetDiskFreeKB(NULL, &free_kb) == RAZIVU_STATUS_FAILED && free_kb == 77);
    CHECK(GetDiskFreeKB("C:\\", NULL) == RAZIVU_STATUS_FAILED);
    CHECK(GetScreenSize(&width, NULL) == RAZIVU_STATUS_FAILED && width == 77);
    CHECK(GetScreenSize(NULL, &width) == RAZIVU_STATUS_FAILED && width == 77);
    strcpy(version, "kept");
    CHECK(GetOSVersion(version, NULL) == RAZIVU_STATUS_FAILED && strcmp(version, "kept") == 0);
    CHECK(GetOSVersion(NULL, version) == RAZIVU_STATUS_FAILED && strcmp(version, "kept") == 0);
    return check_summary();
}
