// Log files below the install base: path resolution (creating the tree when
// it is missing) and the log writer with its once-per-process header.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "razivu/lib/format.h"
#include "razivu/logfile.h"
#include "support/logfile_internal.h"

namespace razivu::support {
namespace {

// Process-wide state of the log writer.
struct LogState {
    char preset[preset_path_cap] = {};  // SetDefaultLogFilePath's path
    bool preset_set = false;            // a preset has been given
    int32_t first_entry = 1;            // > 0 until a WriteLog reached its header step
    int32_t protocol_part = 0;          // counted up before each header
};
LogState state;

char message[log_message_cap];  // the formatted text of one WriteLog entry

constexpr const char *fallback_notice =
    "\nWas unable to open normal log-directory!\nStart of Logging.\n";

// Opens for appending (creating the file if its folder exists) and closes.
bool probe(const char *path) {
    std::FILE *f = platform::open_file(path, "a");
    if (f == nullptr) {
        return false;
    }
    std::fclose(f);
    return true;
}

void install_base(char *base) {
    char value[install_path_cap] = {};
    if (CheckProfileFile() == 0) {
        GetProfileValue(profile_section, profile_key, value, install_path_cap);
    }
    std::snprintf(base, RAZIVU_PATH_CAP, "%s", value[0] != '\0' ? value : "C:\\");
}

// Creates base + var\opt\TARNEX\<subdir>\log one step after the other and
// leaves the file's path in chain. False when the path does not fit.
bool create_tree(const char *base, const char *subdir, const char *file, char *chain) {
    if (std::snprintf(chain, RAZIVU_PATH_CAP, "%svar", base) >= RAZIVU_PATH_CAP) {
        return false;
    }
    platform::make_dir(chain);
    for (const char *name : {"opt", "TARNEX", subdir, "log"}) {
        AppendDirAndCreate(chain, name);  // its result is not what decides
    }
    const std::size_t len = std::strlen(chain);
    return std::snprintf(chain + len, RAZIVU_PATH_CAP - len, "\\%s", file) <
           static_cast<int>(RAZIVU_PATH_CAP - len);
}

void copy_path(char *result, const char *path) {
    std::snprintf(result, RAZIVU_PATH_CAP, "%s", path);
}

}  // namespace

const char *log_subdir(const char *module) {
    if (module == nullptr || strnlen(module, 4) < 4) {
        return "dro";
    }
    return (module[3] == 'V' || module[3] == 'W') ? "kov" : "dro";
}

// The resolution steps behind GetLogFilePath. A path that would not fit the
// 1024-byte buffer is never opened under a cut name: that step is skipped.
void resolve_log_path(const char *module, const char *file, char *result) {
    if (state.preset_set) {
        copy_path(result, state.preset);
    }
    if (module == nullptr) {
        return;
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
            return;
        }
        char chain[RAZIVU_PATH_CAP];
        if (create_tree(base, subdir, name, chain) && probe(chain)) {
            copy_path(result, chain);
            return;
        }
    }
    if (std::FILE *f = platform::open_file(last_resort_log, "a"); f != nullptr) {
        std::fputs(fallback_notice, f);
        std::fclose(f);
        copy_path(result, last_resort_log);
    }
}

RAZIVU_PRINTF(4, 0)
void write_log(const char *file, const char *module, int32_t level, const char *format,
               std::va_list args) {
    if (format == nullptr) {
        return;
    }
    format_cut(message, sizeof message, format, args);
    char path[RAZIVU_PATH_CAP] = {};
    resolve_log_path(module, file, path);
    if (path[0] == '\0') {
        copy_path(path, last_resort_log);
    }
    const char *mod = module != nullptr ? module : "";
    if (state.first_entry > 0) {
        state.first_entry = 0;
        std::FILE *head = platform::open_file(path, "w");
        if (head == nullptr) {
            return;
        }
        ++state.protocol_part;
        const char *stamp = GetLogTimestamp();
        std::fprintf(head, "--------------------------------------------------\n%s %s protocol part %d\n",
                     stamp != nullptr ? stamp : no_timestamp_text, mod,
                     static_cast<int>(state.protocol_part));
        std::fflush(head);
        std::fclose(head);
    }
    std::FILE *f = platform::open_file(path, "a");
    if (f == nullptr) {
        return;
    }
    // ERROR and WARNING entries stand after an empty line; plain ones do not.
    const char *label = "";
    if (level == 2 || level == 3) {
        label = "ERROR: ";
    } else if (level == 4) {
        label = "WARNING: ";
    }
    const char *stamp = GetLogTimestamp();
    std::fprintf(f, "%s%s %s", label[0] != '\0' ? "\n" : "",
                 stamp != nullptr ? stamp : no_timestamp_text, label);
    std::fprintf(f, "%s\n", message);
    std::fflush(f);
    std::fclose(f);
}

}  // namespace razivu::support

extern "C" {

RAZIVU_API void GetLogFilePath(const char *module, const char *file, char *result) {
    if (result != nullptr) {
        razivu::support::resolve_log_path(module, file, result);
    }
}

RAZIVU_API void WriteLog(const char *file, const char *module, int32_t level, const char *format,
                         ...) {
    va_list args;
    va_start(args, format);
    razivu::support::write_log(file, module, level, format, args);
    va_end(args);
}

RAZIVU_API void ResetLogFile(const char *module, const char *file) {
    char path[RAZIVU_PATH_CAP] = {};
    razivu::support::resolve_log_path(module, file, path);
    if (path[0] != '\0') {
        if (std::FILE *f = razivu::platform::open_file(path, "w"); f != nullptr) {
            std::fclose(f);
        }
    }
}

RAZIVU_API void SetDefaultLogFilePath(const char *path) {
    if (path != nullptr) {
        std::snprintf(razivu::support::state.preset, sizeof razivu::support::state.preset, "%s",
                      path);
        razivu::support::state.preset_set = true;
    }
}

}  // extern "C"
