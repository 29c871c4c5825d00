// The support library's profile and Windows-directory accessors: thin
// wrappers of the platform's profile functions with the library's results.
#include <cstdio>

#include "diagnostics/boundary.h"
#include "diagnostics/logfile_internal.h"
#include "platform/platform.h"
#include "razivu/logfile.h"
#include "standins/text.h"

extern "C" {

RAZIVU_API int32_t GetWindowsDir(char *buffer, int32_t size) try {
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
} RAZIVU_CATCH(RAZIVU_STATUS_NO_WINDOWS_DIR, nullptr)

RAZIVU_API int32_t ProfileGetString(const char *section, const char *key,
                                    const char *default_value, char *result, int32_t size,
                                    const char *file) try {
    razivu::platform::profile_get(section, key, default_value, result, size, file);
    return 0;
} RAZIVU_CATCH(0, nullptr)

// Windows would write a section, key or value that breaks its line as it is.
RAZIVU_API int32_t ProfilePutString(const char *section, const char *key, const char *value,
                                    const char *file) try {
    if (section != nullptr && !razivu::standins::profile_entry_writable(section, key, value)) {
        return 1;
    }
    return razivu::platform::profile_put(section, key, value, file) ? 0 : 1;
} RAZIVU_CATCH(1, nullptr)

RAZIVU_API void GetProfileValue(const char *section, const char *key, char *result,
                                int32_t size) try {
    char path[RAZIVU_PATH_CAP];
    razivu::diagnostics::profile_file_path(path);
    razivu::platform::profile_get(section, key, "", result, size, path);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API int32_t CheckProfileFile(void) try {
    return razivu::diagnostics::profile_file_exists() ? 0 : 1;
} RAZIVU_CATCH(1, nullptr)

RAZIVU_API int32_t AppendDirAndCreate(char *path, const char *name) try {
    if (path == nullptr || name == nullptr) {
        return -1;
    }
    return razivu::diagnostics::append_dir_and_create(path, name);
} RAZIVU_CATCH(-1, nullptr)

}  // extern "C"
