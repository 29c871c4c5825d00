/* The system queries from a plain C client, linked against the shared
 * library: the system drive, free space, the version texts in buffers of
 * exactly the documented sizes, and refusals that leave outputs alone. */
#include <stdint.h>
#include <string.h>

#include "check.h"
#include <razivu/sysquery.h>

int main(void) {
    int32_t (*const queries[])(const char *, int32_t *) = {IsFixedDrive, IsRemoteDrive,
                                                           IsCDROMDrive, IsRemovableDrive};
    char version[RAZIVU_OS_VERSION_CAP], platform[RAZIVU_OS_PLATFORM_CAP];
    int32_t flag = 77, width = 77;
    uint32_t free_kb = 0;
    size_t i;
    for (i = 0; i < sizeof queries / sizeof queries[0]; ++i) {
        CHECK(queries[i]("C:\\", &flag) == RAZIVU_STATUS_OK && flag == (i == 0));
        flag = 77;
        CHECK(queries[i]("9:\\", &flag) == RAZIVU_STATUS_FAILED && flag == 77);
    }
    CHECK(GetDiskFreeKB("C:\\", &free_kb) == RAZIVU_STATUS_OK && free_kb > 0);
    memset(version, '#', sizeof version);
    memset(platform, '#', sizeof platform);
    CHECK(GetOSVersion(version, platform) == RAZIVU_STATUS_OK);
    CHECK(memchr(version, '\0', sizeof version) != NULL && strchr(version, '.') != NULL);
    CHECK(memchr(platform, '\0', sizeof platform) != NULL);
    CHECK(IsFixedDrive("\\\\server\\share", &flag) == RAZIVU_STATUS_FAILED && flag == 77);
    free_kb = 77;
    CHECK(GetDiskFreeKB(NULL, &free_kb) == RAZIVU_STATUS_FAILED && free_kb == 77);
    CHECK(GetScreenSize(&width, NULL) == RAZIVU_STATUS_FAILED && width == 77);
    CHECK(GetOSVersion(version, NULL) == RAZIVU_STATUS_FAILED);
    CHECK(HasProductRegistryKey() == 0);
    return check_summary();
}
