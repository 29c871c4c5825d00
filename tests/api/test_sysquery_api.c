/* The system queries from a plain C client, linked against the shared
 * library: the system drive, free space, the version texts in buffers of
 * exactly the documented sizes, and refusals that leave outputs alone. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include <razivu/sysquery.h>

static void the_system_drive_is_fixed_and_has_room(void) {
    int32_t flag = 77;
    uint32_t free_kb = 0;
    CHECK(IsFixedDrive("C:\\", &flag) == RAZIVU_STATUS_OK && flag == 1);
    CHECK(IsRemoteDrive("C:\\", &flag) == RAZIVU_STATUS_OK && flag == 0);
    CHECK(IsCDROMDrive("C:\\", &flag) == RAZIVU_STATUS_OK && flag == 0);
    CHECK(IsRemovableDrive("C:\\", &flag) == RAZIVU_STATUS_OK && flag == 0);
    CHECK(GetDiskFreeKB("C:\\", &free_kb) == RAZIVU_STATUS_OK && free_kb > 0);
}

static void version_texts_fit_the_documented_buffers(void) {
    char version[RAZIVU_OS_VERSION_CAP];
    char platform[RAZIVU_OS_PLATFORM_CAP];
    memset(version, '#', sizeof version);
    memset(platform, '#', sizeof platform);
    CHECK(GetOSVersion(version, platform) == RAZIVU_STATUS_OK);
    CHECK(memchr(version, '\0', sizeof version) != NULL);
    CHECK(memchr(platform, '\0', sizeof platform) != NULL);
    CHECK(strchr(version, '.') != NULL);
}

static void refusals_leave_outputs_alone(void) {
    int32_t flag = 77, width = 77;
    uint32_t free_kb = 77;
    char text[RAZIVU_OS_VERSION_CAP] = "kept";
    CHECK(IsFixedDrive("\\\\server\\share", &flag) == RAZIVU_STATUS_FAILED && flag == 77);
    CHECK(IsRemovableDrive("9:\\", &flag) == RAZIVU_STATUS_FAILED && flag == 77);
    CHECK(IsCDROMDrive(NULL, &flag) == RAZIVU_STATUS_FAILED && flag == 77);
    CHECK(GetDiskFreeKB(NULL, &free_kb) == RAZIVU_STATUS_FAILED && free_kb == 77);
    CHECK(GetScreenSize(&width, NULL) == RAZIVU_STATUS_FAILED && width == 77);
    CHECK(GetOSVersion(text, NULL) == RAZIVU_STATUS_FAILED && strcmp(text, "kept") == 0);
    CHECK(HasProductRegistryKey() == 0);
}

int main(void) {
    the_system_drive_is_fixed_and_has_room();
    version_texts_fit_the_documented_buffers();
    refusals_leave_outputs_alone();
    return check_summary();
}
