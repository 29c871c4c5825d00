// Files, directories, profiles and the Windows directory on Windows: the
// real Win32 calls, paths used as they are.
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace razivu::platform {
namespace {
bool windows_dir_unreadable = false;  // test seam of set_windows_dir_unreadable
}

std::FILE *open_file(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(path, mode);
}

int32_t make_dir(const char *path) {
    return (path != nullptr && CreateDirectoryA(path, nullptr) != 0) ? 0 : -1;
}

int32_t windows_dir(char *buf, int32_t cap) {
    if (windows_dir_unreadable || cap < 0) {
        return 0;
    }
    return static_cast<int32_t>(GetWindowsDirectoryA(buf, static_cast<UINT>(cap)));
}

void set_windows_dir_unreadable(bool unreadable) {
    windows_dir_unreadable = unreadable;
}

int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file) {
    if (buf == nullptr || cap <= 0 || section == nullptr || key == nullptr) {
        return 0;
    }
    return static_cast<int32_t>(
        GetPrivateProfileStringA(section, key, def, buf, static_cast<DWORD>(cap), file));
}

bool profile_put(const char *section, const char *key, const char *value, const char *file) {
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

}  // namespace razivu::platform
