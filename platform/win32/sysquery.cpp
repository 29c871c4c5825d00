// Registry, drive, disk, screen and version queries on Windows: the real
// Win32 calls.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace razivu::platform {
namespace {

// Keys nest no deeper than this below HKEY_LOCAL_MACHINE here, and no part
// of a key's path is longer than the registry allows.
constexpr std::size_t max_key_depth = 8;
constexpr std::size_t key_part_cap = 256;
// The record size GetVersionExA is asked with: OSVERSIONINFOA without the
// service-pack fields of the extended record.
constexpr DWORD version_record_size = 148;
static_assert(sizeof(OSVERSIONINFOA) == version_record_size);

// The next backslash-separated part of *rest into part; false when it is
// empty or too long.
bool next_part(const char **rest, char *part) {
    const char *end = std::strchr(*rest, '\\');
    const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - *rest)
                                           : std::strlen(*rest);
    if (len == 0 || len >= key_part_cap) {
        return false;
    }
    std::memcpy(part, *rest, len);
    part[len] = '\0';
    *rest += end != nullptr ? len + 1 : len;
    return true;
}

}  // namespace

// Opens one part after the other below HKEY_LOCAL_MACHINE and closes the
// keys in reverse order, the deepest first.
bool registry_key_exists(const char *subkey) {
    if (subkey == nullptr) {
        return false;
    }
    HKEY opened[max_key_depth];
    std::size_t n = 0;
    HKEY parent = HKEY_LOCAL_MACHINE;
    bool ok = true;
    char part[key_part_cap];
    while (ok && *subkey != '\0') {
        HKEY key = nullptr;
        ok = n < max_key_depth && next_part(&subkey, part) &&
             RegOpenKeyA(parent, part, &key) == ERROR_SUCCESS;
        if (ok) {
            opened[n++] = key;
            parent = key;
        }
    }
    while (n > 0) {
        RegCloseKey(opened[--n]);
    }
    return ok;
}

int32_t drive_type(const char *root) {
    return static_cast<int32_t>(GetDriveTypeA(root));
}

bool disk_free(const char *root, disk_space *out) {
    DWORD sectors_per_cluster = 0;
    DWORD bytes_per_sector = 0;
    DWORD free_clusters = 0;
    DWORD total_clusters = 0;
    if (out == nullptr || GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector,
                                            &free_clusters, &total_clusters) == 0) {
        return false;
    }
    out->sectors_per_cluster = sectors_per_cluster;
    out->bytes_per_sector = bytes_per_sector;
    out->free_clusters = free_clusters;
    out->total_clusters = total_clusters;
    return true;
}

void screen_size(int32_t *width_out, int32_t *height_out) {
    *width_out = static_cast<int32_t>(GetSystemMetrics(SM_CXSCREEN));
    *height_out = *width_out != 0 ? static_cast<int32_t>(GetSystemMetrics(SM_CYSCREEN)) : 0;
}

bool os_version(os_version_info *out) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = version_record_size;
    if (out == nullptr || GetVersionExA(&info) == 0) {
        return false;
    }
    out->major = static_cast<int32_t>(info.dwMajorVersion);
    out->minor = static_cast<int32_t>(info.dwMinorVersion);
    out->platform_id = static_cast<int32_t>(info.dwPlatformId);
    out->name[0] = '\0';
    return true;
}

}  // namespace razivu::platform
