// Inner steps of the system queries, reachable by tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace razivu::support {

// The drive queries ask about the first three characters of a path.
constexpr std::size_t drive_root_len = 3;
constexpr std::size_t drive_root_cap = drive_root_len + 1;
// Free space is counted in units of 1000 bytes, not 1024.
constexpr uint64_t bytes_per_free_unit = 1000;
// The product's key below HKEY_LOCAL_MACHINE.
constexpr const char *product_registry_key = "SOFTWARE\\BRENVOLT";

// The root a drive query asks about: path cut to drive_root_len characters.
void drive_root(const char *path, char (&root_out)[drive_root_cap]);

// Free space of a disk in units of 1000 bytes, rounded down; space beyond
// what 32 bits count reads as the largest count rather than a wrapped one.
uint32_t free_units(const platform::disk_space &space);

// The name GetOSVersion writes for the platform, or nullptr for a Windows
// platform id without a name.
const char *platform_name(const platform::os_version_info &info);

}  // namespace razivu::support
