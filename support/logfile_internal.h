// Inner steps of the log files, reachable by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace razivu::support {

constexpr const char *profile_file_name = "tarnex.ini";
constexpr const char *profile_section = "default";
constexpr const char *profile_key = "TARNEX_INSTALL_PATH";
// The install path is read into 10 bytes: at most 9 characters count.
constexpr int32_t install_path_cap = 10;
constexpr const char *last_resort_log = "C:\\error.txt";
// Capacity of the preset log path, terminator included.
constexpr std::size_t preset_path_cap = 256;
// Capacity of one formatted WriteLog message, terminator included.
constexpr std::size_t log_message_cap = 64000;
// Printed in place of a timestamp when the local time cannot be read.
constexpr const char *no_timestamp_text = "[--.--.---:--.--.-- ---]";

// The profile file's path (Windows directory + "\tarnex.ini") into a
// RAZIVU_PATH_CAP buffer.
void profile_file_path(char *buf);

// "dro" or "kov" by the fourth character of the module name.
const char *log_subdir(const char *module);

// Formats the log timestamp of local time tm and milliseconds ms into buf;
// returns buf, or nullptr when tm is null.
const char *format_timestamp(const std::tm *tm, int32_t ms, char *buf, std::size_t cap);

}  // namespace razivu::support
