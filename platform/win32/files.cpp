// Files, directories, profiles and the Windows directory on Windows: the
// real Win32 calls, paths used as they are.
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

bool windows_dir_unreadable = false;  // test seam of set_windows_dir_unreadable

std::FILE *sys_open(const char *path, const char *mode) {
    return std::fopen(path, mode);
}

int sys_rename(const char *from, const char *to) {
    return std::rename(from, to);
}

int sys_remove(const char *path) {
    return std::remove(path);
}

int32_t sys_make_dir(const char *path) {
    return CreateDirectoryA(path, nullptr) != 0 ? 0 : -1;
}

constexpr FileCalls system_calls{sys_open,   stdio_write, stdio_flush,  stdio_close,
                                 sys_rename, sys_remove,  sys_make_dir};

}  // namespace

const FileCalls &system_file_calls() {
    return system_calls;
}

std::string host_path(const char *path) {
    return path;
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
    // Without a section or key Windows would list names, and without a file
    // read WIN.INI; the library's callers get the default instead.
    if (section == nullptr || key == nullptr || file == nullptr) {
        return copy_profile_default(def, buf, cap);
    }
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    return static_cast<int32_t>(
        GetPrivateProfileStringA(section, key, def, buf, static_cast<DWORD>(cap), file));
}

bool profile_put(const char *section, const char *key, const char *value, const char *file) {
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

}  // namespace razivu::platform
