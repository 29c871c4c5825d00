// Section "fonts" of the system profile on Linux: WIN.INI in the Windows
// directory, through the private-profile code. UTF-16 keys and values are
// kept as UTF-8; file names are UTF-8 and upper-cased in ASCII only, since
// upper-casing single bytes of UTF-8 would break its characters.
#include <string>

#include "platform/platform.h"

namespace razivu::platform {
namespace {

constexpr const char *system_profile = "WIN.INI";
constexpr const char *fonts_section = "fonts";
constexpr std::size_t max_utf8_per_unit = 3;  // a BMP unit; a pair takes 4 for 2

bool is_high_surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool is_low_surrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void append_utf8(char32_t c, std::string &out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// false for a lone surrogate, which has no UTF-8 form.
bool to_utf8(const char16_t *text, std::string &out) {
    for (; *text != u'\0'; ++text) {
        char32_t c = *text;
        if (is_high_surrogate(c) && is_low_surrogate(text[1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            return false;
        }
        append_utf8(c, out);
    }
    return true;
}

// The next code point of UTF-8 text at *p, advancing *p; false for bytes
// that are not shortest-form UTF-8 of a scalar value.
bool next_code_point(const unsigned char *&p, char32_t &c_out) {
    const unsigned char lead = *p++;
    int more = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c_out = lead;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        more = 1, min = 0x80, c_out = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, min = 0x800, c_out = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, min = 0x10000, c_out = lead & 0x07;
    } else {
        return false;
    }
    for (; more > 0; --more, ++p) {
        if ((*p & 0xC0) != 0x80) {
            return false;
        }
        c_out = c_out << 6 | (*p & 0x3F);
    }
    return c_out >= min && c_out <= 0x10FFFF && !is_high_surrogate(c_out) &&
           !is_low_surrogate(c_out);
}

std::size_t utf16_units(char32_t c) {
    return c >= 0x10000 ? 2 : 1;
}

// Writes c as one unit or a surrogate pair at out.
void put_utf16(char32_t c, char16_t *out) {
    if (utf16_units(c) == 2) {
        out[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        out[0] = static_cast<char16_t>(c);
    }
}

}  // namespace

int32_t fonts_profile_get(const char *key, char *buf, int32_t cap) {
    return profile_get(fonts_section, key, "", buf, cap, system_profile);
}

bool fonts_profile_put(const char *key, const char *value) {
    return profile_put(fonts_section, key, value, system_profile);
}

// Read as UTF-8 into room for cap units, then cut to cap - 1 units without
// splitting a surrogate pair.
int32_t fonts_profile_get_w(const char16_t *key, char16_t *buf, int32_t cap) {
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    buf[0] = u'\0';
    std::string narrow_key;
    if (key == nullptr || !to_utf8(key, narrow_key)) {
        return 0;
    }
    std::string value(static_cast<std::size_t>(cap) * max_utf8_per_unit + 1, '\0');
    fonts_profile_get(narrow_key.c_str(), value.data(), static_cast<int32_t>(value.size()));
    const auto *p = reinterpret_cast<const unsigned char *>(value.c_str());
    std::size_t n = 0;
    char32_t c = 0;
    while (*p != '\0' && next_code_point(p, c) &&
           n + utf16_units(c) < static_cast<std::size_t>(cap)) {
        put_utf16(c, buf + n);
        n += utf16_units(c);
    }
    buf[n] = u'\0';
    return static_cast<int32_t>(n);
}

bool fonts_profile_put_w(const char16_t *key, const char16_t *value) {
    std::string narrow_key;
    std::string narrow_value;
    if (key == nullptr || !to_utf8(key, narrow_key) ||
        (value != nullptr && !to_utf8(value, narrow_value))) {
        return false;
    }
    return fonts_profile_put(narrow_key.c_str(), value != nullptr ? narrow_value.c_str() : nullptr);
}

void upper_case(char *text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] >= 'a' && text[i] <= 'z') {
            text[i] = static_cast<char>(text[i] - 'a' + 'A');
        }
    }
}

bool narrow_to_utf16(const char *text, char16_t *out, std::size_t cap) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    std::size_t n = 0;
    char32_t c = 0;
    while (*p != '\0') {
        if (!next_code_point(p, c)) {
            return false;
        }
        if (n + utf16_units(c) >= cap) {
            return false;
        }
        put_utf16(c, out + n);
        n += utf16_units(c);
    }
    out[n] = u'\0';
    return true;
}

}  // namespace razivu::platform
