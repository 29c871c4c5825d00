// The registry probe, screen size and operating-system version of the
// support library.
#include <cstdio>
#include <cstring>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/sysquery.h"
#include "support/sysquery_internal.h"

namespace razivu::support {

const char *platform_name(const platform::os_version_info &info) {
    switch (info.platform_id) {
    case platform::platform_win32s:
        return "Win32s on Windows 3.1";
    case platform::platform_win32_windows:
        return "Windows 95";
    case platform::platform_win32_nt:
        return "Windows NT";
    case platform::platform_not_windows:
        return info.name[0] != '\0' ? info.name : nullptr;
    default:
        return nullptr;
    }
}

}  // namespace razivu::support

extern "C" {

RAZIVU_API int32_t HasProductRegistryKey(void) try {
    return razivu::platform::registry_key_exists(razivu::support::product_registry_key) ? 1 : 0;
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API int32_t GetScreenSize(int32_t *width, int32_t *height) try {
    if (width == nullptr || height == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    razivu::platform::screen_size(width, height);
    return (*width == 0 || *height == 0) ? RAZIVU_STATUS_NO_SCREEN : RAZIVU_STATUS_OK;
} RAZIVU_CATCH(RAZIVU_STATUS_NO_SCREEN, nullptr)

// Both texts are formatted to the buffers' documented sizes: the version
// always fits, a host's own platform name is cut to fit.
RAZIVU_API int32_t GetOSVersion(char *version, char *platform) try {
    if (version == nullptr || platform == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    razivu::platform::os_version_info info{};
    if (!razivu::platform::os_version(&info)) {
        return RAZIVU_STATUS_NO_VERSION;
    }
    std::snprintf(version, RAZIVU_OS_VERSION_CAP, "%d.%d", info.major, info.minor);
    if (const char *name = razivu::support::platform_name(info)) {
        const std::size_t len = strnlen(name, RAZIVU_OS_PLATFORM_CAP - 1);
        std::memcpy(platform, name, len);
        platform[len] = '\0';
    }
    return RAZIVU_STATUS_OK;
} RAZIVU_CATCH(RAZIVU_STATUS_NO_VERSION, nullptr)

}  // extern "C"
