// The support library's profile and Windows-directory accessors.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "razivu/logfile.h"
#include "support/logfile_internal.h"

namespace razivu::support {

void profile_file_path(char *buf) {
    char windir[RAZIVU_PATH_CAP];
    windir[0] = '\0';
    if (GetWindowsDir(windir, sizeof windir) == RAZIVU_STATUS_OK) {
        std::snprintf(buf, RAZIVU_PATH_CAP, "%s\\%s", windir, profile_file_name);
    } else {
        std::snprintf(buf, RAZIVU_PATH_CAP, "C:\\Windows\\%s", profile_file_name);
    }
    buf[RAZIVU_PATH_CAP - 1] = '\0';
}

}  // namespace razivu::support

using razivu::support::profile_file_path;

extern "C" {

RAZIVU_API int32_t GetWindowsDir(char *buffer, int32_t size) {
    if (buffer == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    const int32_t len = razivu::platform::windows_dir(buffer, size);
    if (len > 0 && len < size) {
        return RAZIVU_STATUS_OK;
    }
    // Unreadable, or larger than the caller's buffer: either way the caller
    // has no directory, so none is reported as read.
    if (size > 0) {
        buffer[0] = '\0';
    }
    return RAZIVU_STATUS_NO_WINDOWS_DIR;
}

RAZIVU_API int32_t ProfileGetString(const char *section, const char *key,
                                    const char *default_value, char *result, int32_t size,
                                    const char *file) {
    razivu::platform::profile_get(section, key, default_value, result, size, file);
    return 0;
}

RAZIVU_API int32_t ProfilePutString(const char *section, const char *key, const char *value,
                                    const char *file) {
    return razivu::platform::profile_put(section, key, value, file) ? 0 : 1;
}

RAZIVU_API void GetProfileValue(const char *section, const char *key, char *result,
                                int32_t size) {
    char path[RAZIVU_PATH_CAP];
    profile_file_path(path);
    ProfileGetString(section, key, "", result, size, path);
}

RAZIVU_API int32_t CheckProfileFile(void) {
    char path[RAZIVU_PATH_CAP];
    profile_file_path(path);
    std::FILE *f = razivu::platform::open_file(path, "r");
    if (f == nullptr) {
        return 1;
    }
    std::fclose(f);
    return 0;
}

// A name that would not fit the path buffer is refused and the buffer kept,
// rather than creating a directory under a cut name.
RAZIVU_API int32_t AppendDirAndCreate(char *path, const char *name) {
    if (path == nullptr || name == nullptr) {
        return -1;
    }
    const std::size_t len = strnlen(path, RAZIVU_PATH_CAP);
    const std::size_t add = std::strlen(name);
    if (len >= RAZIVU_PATH_CAP || len + 1 + add >= RAZIVU_PATH_CAP) {
        return -1;
    }
    path[len] = '\\';
    std::memcpy(path + len + 1, name, add + 1);
    return razivu::platform::make_dir(path);
}

}  // extern "C"
