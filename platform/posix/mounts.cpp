// The mount table and block-device attributes behind the drive types.
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "standins/files.h"

namespace razivu::platform::posix {
namespace {

// Field positions of a mountinfo line before its " - " separator.
constexpr std::size_t field_device = 2;
constexpr std::size_t field_mount_point = 4;
constexpr std::size_t fields_before_optional = 6;
// An escape such as "\040" is a backslash and three octal digits.
constexpr std::size_t octal_escape_len = 4;

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = line.find(' ', pos);
        const std::size_t stop = end == std::string_view::npos ? line.size() : end;
        if (stop > pos) {
            fields.push_back(line.substr(pos, stop - pos));
        }
        pos = stop + 1;
    }
    return fields;
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// The kernel writes space, tab, newline and backslash in paths as \ooo.
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + octal_escape_len <= text.size() && is_octal(text[i + 1]) &&
            is_octal(text[i + 2]) && is_octal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += octal_escape_len - 1;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool parse_device(std::string_view text, uint32_t *major_out, uint32_t *minor_out) {
    unsigned major = 0;
    unsigned minor = 0;
    char tail = '\0';
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%u:%u%c", &major, &minor, &tail) != 2) {
        return false;
    }
    *major_out = major;
    *minor_out = minor;
    return true;
}

bool parse_line(std::string_view line, mount_entry *out) {
    const std::vector<std::string_view> fields = split_fields(line);
    std::size_t sep = fields_before_optional;
    while (sep < fields.size() && fields[sep] != "-") {
        ++sep;
    }
    if (sep + 2 >= fields.size() ||
        !parse_device(fields[field_device], &out->major, &out->minor)) {
        return false;
    }
    out->mount_point = unescape(fields[field_mount_point]);
    out->fs_type = std::string(fields[sep + 1]);
    out->source = unescape(fields[sep + 2]);
    return true;
}

bool contains(std::string_view mount_point, std::string_view path) {
    if (mount_point == "/") {
        return !path.empty() && path[0] == '/';
    }
    return path.substr(0, mount_point.size()) == mount_point &&
           (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

// Bytes of a sysfs attribute read at most.
constexpr std::size_t attribute_cap = 64;

// First character of a small sysfs attribute file, or '\0'.
char first_char_of(const std::string &file) {
    std::string text;
    const bool read = standins::read_file(file, attribute_cap, text) == standins::ReadResult::ok;
    return read && !text.empty() ? text[0] : '\0';
}

}  // namespace

bool find_mount(std::string_view mountinfo, std::string_view path, mount_entry *out) {
    bool found = false;
    std::size_t pos = 0;
    while (pos < mountinfo.size()) {
        const std::size_t end = mountinfo.find('\n', pos);
        const std::size_t stop = end == std::string_view::npos ? mountinfo.size() : end;
        mount_entry entry;
        if (parse_line(mountinfo.substr(pos, stop - pos), &entry) &&
            contains(entry.mount_point, path) &&
            (!found || entry.mount_point.size() >= out->mount_point.size())) {
            *out = std::move(entry);
            found = true;
        }
        pos = stop + 1;
    }
    return found;
}

// sysfs keeps "removable" on the whole disk; a partition's entry has a
// "partition" file and sits one level below its disk.
int32_t removable_flag(const std::string &block_devices, uint32_t major, uint32_t minor) {
    const std::string dir =
        block_devices + "/" + std::to_string(major) + ":" + std::to_string(minor);
    struct stat st{};
    const bool partition = file_calls().stat_host((dir + "/partition").c_str(), &st) == 0;
    switch (first_char_of(dir + (partition ? "/../removable" : "/removable"))) {
    case '1':
        return 1;
    case '0':
        return 0;
    default:
        return -1;
    }
}

}  // namespace razivu::platform::posix
