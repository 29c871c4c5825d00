// Where log files go: the install base read from the profile file, the log
// tree below it (created when missing), and the last-resort file.
//
// Nothing is cached: every call reads the profile and probes the tree again,
// so a changed profile or a removed tree takes effect with the next entry.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "diagnostics/boundary.h"
#include "diagnostics/logfile_internal.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/logfile.h"

namespace razivu::diagnostics {
namespace {

// Process-wide state of the path resolution.
struct Preset {
    platform::Lock lock;              // held while the path is copied in or out
    char path[preset_path_cap] = {};  // SetDefaultLogFilePath's path
    bool set = false;                 // a preset has been given; it cannot be unset
};
Preset preset;

// Process-wide: SetLogRedirect's choice, read and changed under the lock.
struct Redirect {
    platform::Lock lock;
    bool set = false;                  // entries go to path, not to the install tree
    char path[RAZIVU_PATH_CAP] = {};  // empty: entries are dropped
};
Redirect redirect;

constexpr const char *fallback_notice =
    "\nWas unable to open normal log-directory!\nStart of Logging.\n";

// Opens for appending (creating the file if its folder exists) and closes.
bool probe(const char *path) {
    std::FILE *f = platform::open_own_file(path, "a");
    return f != nullptr && platform::close_file(f);
}

void copy_path(char *result, const char *path) {
    std::snprintf(result, RAZIVU_PATH_CAP, "%s", path);
}

// The value of TARNEX_INSTALL_PATH, at most 9 characters, or "C:\" when the
// profile file is missing or the value empty.
void install_base(char *base) {
    char value[install_path_cap] = {};
    if (profile_file_exists()) {
        char path[RAZIVU_PATH_CAP];
        profile_file_path(path);
        platform::profile_get(profile_section, profile_key, "", value, install_path_cap, path);
    }
    copy_path(base, value[0] != '\0' ? value : default_install_base);
}

// Creates base + var\opt\TARNEX\<subdir>\log one step after the other and
// leaves the file's path in chain. False when the path does not fit.
bool create_tree(const char *base, const char *subdir, const char *file, char *chain) {
    if (std::snprintf(chain, RAZIVU_PATH_CAP, "%svar", base) >= RAZIVU_PATH_CAP) {
        return false;
    }
    platform::make_dir(chain);
    for (const char *name : {"opt", "TARNEX", subdir, "log"}) {
        append_dir_and_create(chain, name);  // its result is not what decides
    }
    const std::size_t len = std::strlen(chain);
    return std::snprintf(chain + len, RAZIVU_PATH_CAP - len, "\\%s", file) <
           static_cast<int>(RAZIVU_PATH_CAP - len);
}

}  // namespace

// A Windows directory too long for the profile path counts as unreadable.
void profile_file_path(char *buf) {
    char windir[RAZIVU_PATH_CAP];
    const int32_t len = platform::windows_dir(windir, RAZIVU_PATH_CAP);
    const std::size_t name_len = std::strlen(profile_file_name);
    if (len > 0 && static_cast<std::size_t>(len) + 1 + name_len < RAZIVU_PATH_CAP) {
        std::memcpy(buf, windir, static_cast<std::size_t>(len));
        buf[len] = '\\';
        std::memcpy(buf + len + 1, profile_file_name, name_len + 1);
    } else {
        std::snprintf(buf, RAZIVU_PATH_CAP, "C:\\Windows\\%s", profile_file_name);
    }
}

bool profile_file_exists() {
    char path[RAZIVU_PATH_CAP];
    profile_file_path(path);
    std::FILE *f = platform::open_regular_file(path);
    if (f == nullptr) {
        return false;
    }
    std::fclose(f);
    return true;
}

const char *log_subdir(const char *module) {
    if (module == nullptr || strnlen(module, 4) < 4) {
        return "dro";
    }
    return (module[3] == 'V' || module[3] == 'W') ? "kov" : "dro";
}

int32_t append_dir_and_create(char *path, const char *name) {
    const std::size_t len = strnlen(path, RAZIVU_PATH_CAP);
    const std::size_t add = std::strlen(name);
    if (len >= RAZIVU_PATH_CAP || len + 1 + add >= RAZIVU_PATH_CAP) {
        return -1;
    }
    path[len] = '\\';
    std::memcpy(path + len + 1, name, add + 1);
    return platform::make_dir(path);
}

// A path that would not fit the 1024-byte buffer is never opened under a
// cut name: that step is skipped.
bool resolve_log_path(const char *module, const char *file, char *result) {
    {
        platform::Locked held(redirect.lock);
        if (redirect.set) {
            copy_path(result, redirect.path);
            return result[0] != '\0';
        }
    }
    {
        platform::Locked held(preset.lock);
        if (preset.set) {
            copy_path(result, preset.path);
        }
    }
    if (module == nullptr) {
        return true;
    }
    char base[RAZIVU_PATH_CAP];
    install_base(base);
    const char *subdir = log_subdir(module);
    const char *name = file != nullptr ? file : "error.txt";

    char candidate[RAZIVU_PATH_CAP];
    const int n = std::snprintf(candidate, sizeof candidate, "%svar\\opt\\TARNEX\\%s\\log\\%s",
                                base, subdir, name);
    if (n >= 0 && n < static_cast<int>(sizeof candidate)) {
        if (probe(candidate)) {
            copy_path(result, candidate);
            return true;
        }
        char chain[RAZIVU_PATH_CAP];
        if (create_tree(base, subdir, name, chain) && probe(chain)) {
            copy_path(result, chain);
            return true;
        }
    }
    if (std::FILE *f = platform::open_own_file(last_resort_log, "a"); f != nullptr) {
        platform::write_text(f, fallback_notice);
        platform::close_file(f);
        copy_path(result, last_resort_log);
    }
    return true;
}

}  // namespace razivu::diagnostics

extern "C" {

RAZIVU_API void GetLogFilePath(const char *module, const char *file, char *result) try {
    if (result != nullptr) {
        razivu::diagnostics::resolve_log_path(module, file, result);
    }
} RAZIVU_CATCH_VOID(nullptr)

// A result that does not fit is refused whole, never cut into another path.
RAZIVU_API int32_t GetHostPath(const char *path, char *result, int32_t size) try {
    if (path == nullptr || result == nullptr || size <= 0) {
        return RAZIVU_STATUS_FAILED;
    }
    const std::string host = razivu::platform::host_path(path);
    if (host.size() >= static_cast<std::size_t>(size)) {
        return RAZIVU_STATUS_FAILED;
    }
    std::memcpy(result, host.c_str(), host.size() + 1);
    return RAZIVU_STATUS_OK;
} RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

// A path that does not fit is not cut into another one: entries are dropped.
RAZIVU_API void SetLogRedirect(const char *path) try {
    auto &redirect = razivu::diagnostics::redirect;
    razivu::platform::Locked held(redirect.lock);
    redirect.set = path != nullptr;
    const bool fits = path != nullptr && std::strlen(path) < sizeof redirect.path;
    std::snprintf(redirect.path, sizeof redirect.path, "%s", fits ? path : "");
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void SetDefaultLogFilePath(const char *path) try {
    if (path != nullptr) {
        auto &preset = razivu::diagnostics::preset;
        razivu::platform::Locked held(preset.lock);
        std::snprintf(preset.path, sizeof preset.path, "%s", path);
        preset.set = true;
    }
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"
