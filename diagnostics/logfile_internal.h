// Inner steps of the log files, shared with the support library's profile
// accessors and reachable by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace razivu::diagnostics {

constexpr const char *profile_file_name = "tarnex.ini";
constexpr const char *profile_section = "default";
constexpr const char *profile_key = "TARNEX_INSTALL_PATH";
// The install path is read into 10 bytes: at most 9 characters count.
constexpr int32_t install_path_cap = 10;
constexpr const char *default_install_base = "C:\\";
constexpr const char *last_resort_log = "C:\\error.txt";
// Capacity of the preset log path, terminator included.
constexpr std::size_t preset_path_cap = 256;
// Capacity of one formatted WriteLog message, terminator included.
constexpr std::size_t log_message_cap = 64000;
// Printed in place of a timestamp when the local time cannot be read.
constexpr const char *no_timestamp_text = "[--.--.---:--.--.-- ---]";
// Level 2 is an ERROR entry as well as RAZIVU_LOG_ERROR (3).
constexpr int32_t log_level_error_low = 2;

// The profile file's path (Windows directory + "\tarnex.ini", or
// "C:\Windows\tarnex.ini" when the directory cannot be read) into a
// RAZIVU_PATH_CAP buffer.
void profile_file_path(char *buf);
// True when the profile file can be opened for reading.
bool profile_file_exists();

// "dro" or "kov" by the fourth character of the module name.
const char *log_subdir(const char *module);

// Appends "\name" to path (a RAZIVU_PATH_CAP buffer) and creates that
// directory: 0 when created, -1 when not. A name that would not fit is
// refused and path kept, rather than a directory made under a cut name.
int32_t append_dir_and_create(char *path, const char *name);

// The resolution behind GetLogFilePath; result is not null. False, with
// result empty, while SetLogRedirect has entries dropped.
bool resolve_log_path(const char *module, const char *file, char *result);

// Formats the log timestamp of local time tm and milliseconds ms into buf;
// returns buf, or nullptr when tm is null.
const char *format_timestamp(const std::tm *tm, int32_t ms, char *buf, std::size_t cap);

}  // namespace razivu::diagnostics
