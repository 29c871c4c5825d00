// Drive types and free disk space of the support library.
#include <cctype>
#include <cstring>
#include <limits>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/sysquery.h"
#include "support/sysquery_internal.h"

namespace razivu::support {
namespace {

// The worker behind the four drive queries: the flag answers whether the
// drive is of type wanted; unknown_status is the query's code for a drive
// whose type cannot be determined.
int32_t query_drive(const char *path, int32_t *flag, int32_t wanted, int32_t unknown_status) {
    if (path == nullptr || flag == nullptr ||
        !std::isalpha(static_cast<unsigned char>(path[0]))) {
        return RAZIVU_STATUS_FAILED;
    }
    *flag = 0;
    char root[drive_root_cap];
    drive_root(path, root);
    const int32_t type = platform::drive_type(root);
    if (type == platform::drive_unknown) {
        return unknown_status;
    }
    *flag = type == wanted ? 1 : 0;
    return RAZIVU_STATUS_OK;
}

}  // namespace

void drive_root(const char *path, char (&root_out)[drive_root_cap]) {
    const std::size_t len = strnlen(path, drive_root_len);
    std::memcpy(root_out, path, len);
    root_out[len] = '\0';
}

// 64-bit arithmetic keeps every byte count of a real disk exact; only a
// count of units past 32 bits is cut, to the largest the caller can hold.
uint32_t free_units(const platform::disk_space &space) {
    constexpr uint32_t most = std::numeric_limits<uint32_t>::max();
    const uint64_t cluster = uint64_t{space.sectors_per_cluster} * space.bytes_per_sector;
    if (cluster == 0) {
        return 0;
    }
    if (space.free_clusters > std::numeric_limits<uint64_t>::max() / cluster) {
        return most;
    }
    const uint64_t units = space.free_clusters * cluster / bytes_per_free_unit;
    return units > most ? most : static_cast<uint32_t>(units);
}

}  // namespace razivu::support

using razivu::support::query_drive;

extern "C" {

RAZIVU_API int32_t IsFixedDrive(const char *path, int32_t *flag) try {
    return query_drive(path, flag, razivu::platform::drive_fixed, RAZIVU_STATUS_FIXED_UNKNOWN);
} RAZIVU_CATCH(RAZIVU_STATUS_FIXED_UNKNOWN, nullptr)

RAZIVU_API int32_t IsRemoteDrive(const char *path, int32_t *flag) try {
    return query_drive(path, flag, razivu::platform::drive_remote, RAZIVU_STATUS_REMOTE_UNKNOWN);
} RAZIVU_CATCH(RAZIVU_STATUS_REMOTE_UNKNOWN, nullptr)

RAZIVU_API int32_t IsCDROMDrive(const char *path, int32_t *flag) try {
    return query_drive(path, flag, razivu::platform::drive_cdrom, RAZIVU_STATUS_CDROM_UNKNOWN);
} RAZIVU_CATCH(RAZIVU_STATUS_CDROM_UNKNOWN, nullptr)

RAZIVU_API int32_t IsRemovableDrive(const char *path, int32_t *flag) try {
    return query_drive(path, flag, razivu::platform::drive_removable,
                       RAZIVU_STATUS_REMOVABLE_UNKNOWN);
} RAZIVU_CATCH(RAZIVU_STATUS_REMOVABLE_UNKNOWN, nullptr)

// Unlike the drive queries, any first character is passed on.
RAZIVU_API int32_t GetDiskFreeKB(const char *path, uint32_t *free_kb) try {
    if (path == nullptr || free_kb == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    *free_kb = 0;
    char root[razivu::support::drive_root_cap];
    razivu::support::drive_root(path, root);
    razivu::platform::disk_space space{};
    if (!razivu::platform::disk_free(root, &space)) {
        return RAZIVU_STATUS_NO_FREE_SPACE;
    }
    *free_kb = razivu::support::free_units(space);
    return RAZIVU_STATUS_OK;
} RAZIVU_CATCH(RAZIVU_STATUS_NO_FREE_SPACE, nullptr)

}  // extern "C"
