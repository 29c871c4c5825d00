#include "services/status_codes.h"

#include <razivu/razivu.h>

namespace razivu_tool {
namespace {

const Status statuses[] = {
    {RAZIVU_STATUS_OK, "done"},
    {RAZIVU_STATUS_FAILED, "a missing argument or a plain failure"},
    {RAZIVU_STATUS_FIXED_UNKNOWN, "IsFixedDrive: the drive's type cannot be determined"},
    {RAZIVU_STATUS_REMOTE_UNKNOWN, "IsRemoteDrive: the drive's type cannot be determined"},
    {RAZIVU_STATUS_CDROM_UNKNOWN, "IsCDROMDrive: the drive's type cannot be determined"},
    {RAZIVU_STATUS_REMOVABLE_UNKNOWN, "IsRemovableDrive: the drive's type cannot be determined"},
    {RAZIVU_STATUS_NO_FREE_SPACE, "GetDiskFreeKB: the free space cannot be read"},
    {RAZIVU_STATUS_NO_WINDOWS_DIR, "GetWindowsDir: the Windows directory cannot be read"},
    {RAZIVU_STATUS_DDE_SETUP, "program groups: the DDE conversation could not be set up"},
    {RAZIVU_STATUS_DDE_COMMAND, "program groups: a command was not carried out"},
    {RAZIVU_STATUS_NO_SCREEN, "GetScreenSize: the width or the height reads 0 (no display)"},
    {RAZIVU_STATUS_NO_VERSION, "GetOSVersion: the version cannot be read"},
};

}  // namespace

std::span<const Status> all_statuses() {
    return statuses;
}

const char *status_text(int32_t code) {
    for (const Status &s : statuses) {
        if (s.code == code) {
            return s.text;
        }
    }
    return nullptr;
}

}  // namespace razivu_tool
