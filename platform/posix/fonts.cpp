// The font services on Linux: the stand-ins' LZ copy and font table, and
// section "fonts" of WIN.INI in the Windows directory through the profile
// code. UTF-16 keys and values are kept as UTF-8; file names are UTF-8 and
// upper-cased in ASCII only, since upper-casing single bytes of UTF-8 would
// break its characters.
#include <string>

#include "platform/platform.h"
#include "standins/fonts.h"
#include "standins/paths.h"
#include "standins/text.h"

namespace razivu::platform {
namespace {

constexpr const char *system_profile = "WIN.INI";
constexpr const char *fonts_section = "fonts";
constexpr std::size_t max_utf8_per_unit = 3;  // a BMP unit; a pair takes 4 for 2

}  // namespace

// FONTS and SYSTEM always exist below a Windows directory, so they are made
// here as the Windows directory is.
bool stage_copy(const char *source, const char *target, std::string &staged_out) {
    if (source == nullptr || target == nullptr) {
        return false;
    }
    const std::string to = standins::host_path(target);
    if (standins::on_system_drive(target)) {
        standins::ensure_system_drive();
        const std::size_t slash = to.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            file_calls().make_dir_host(to.substr(0, slash).c_str(), 0777);
        }
    }
    return standins::stage_copy(standins::host_path(source), to, staged_out);
}

bool replace_file(const char *from, const char *to) {
    return from != nullptr && to != nullptr && file_calls().rename(from, to) == 0;
}

bool remove_file(const char *path) {
    return path != nullptr && file_calls().remove(path) == 0;
}

bool font_table_add(const char *path) {
    return path != nullptr && standins::font_table_add(standins::host_path(path));
}

void broadcast_font_change() {}

// Read as UTF-8 into room for cap units, then cut to cap - 1 units without
// splitting a surrogate pair.
int32_t fonts_profile_get_w(const char16_t *key, char16_t *buf, int32_t cap) {
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    buf[0] = u'\0';
    std::string narrow_key;
    if (key == nullptr || !standins::utf8_from_utf16(key, narrow_key)) {
        return 0;
    }
    std::string value(static_cast<std::size_t>(cap) * max_utf8_per_unit + 1, '\0');
    const int32_t len = profile_get(fonts_section, narrow_key.c_str(), "", value.data(),
                                    static_cast<int32_t>(value.size()), system_profile);
    std::size_t units = 0;
    standins::utf16_from_utf8(std::string_view(value.data(), static_cast<std::size_t>(len)), buf,
                              static_cast<std::size_t>(cap), &units, true);
    return static_cast<int32_t>(units);
}

bool fonts_profile_put_w(const char16_t *key, const char16_t *value) {
    std::string narrow_key;
    std::string narrow_value;
    if (key == nullptr || !standins::utf8_from_utf16(key, narrow_key) ||
        (value != nullptr && !standins::utf8_from_utf16(value, narrow_value))) {
        return false;
    }
    return profile_put(fonts_section, narrow_key.c_str(),
                       value != nullptr ? narrow_value.c_str() : nullptr, system_profile);
}

void upper_case(char *text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] >= 'a' && text[i] <= 'z') {
            text[i] = static_cast<char>(text[i] - 'a' + 'A');
        }
    }
}

bool narrow_to_utf16(const char *text, char16_t *out, std::size_t cap) {
    return standins::utf16_from_utf8(text, out, cap);
}

}  // namespace razivu::platform
