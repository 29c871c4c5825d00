// Text encodings for the whole library.
#include "standins/text.h"

#include <cstdint>

namespace razivu::standins {
namespace {

// Code page 1252 from 0x80 to 0x9f; the rest of its upper half is Latin-1.
constexpr char32_t cp1252_high[32] = {
    0x20ac, 0xfffd, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xfffd, 0x017d, 0xfffd, 0xfffd, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0xfffd, 0x017e, 0x0178,
};
constexpr char32_t replacement = 0xfffd;

bool is_high_surrogate(char32_t c) {
    return c >= 0xd800 && c <= 0xdbff;
}

bool is_low_surrogate(char32_t c) {
    return c >= 0xdc00 && c <= 0xdfff;
}

bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool holds_control(std::string_view s) {
    for (const char c : s) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
            return true;
        }
    }
    return false;
}

std::size_t utf16_units(char32_t c) {
    return c >= 0x10000 ? 2 : 1;
}

void put_utf16(char32_t c, char16_t *out) {
    if (utf16_units(c) == 2) {
        out[0] = static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10));
        out[1] = static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff));
    } else {
        out[0] = static_cast<char16_t>(c);
    }
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xc0) == 0x80; };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        return cont(1) ? 2 : 0;
    }
    if (lead >= 0xe0 && lead <= 0xef) {
        const bool ok =
            cont(1) && cont(2) && !(lead == 0xe0 && b(1) < 0xa0) && !(lead == 0xed && b(1) > 0x9f);
        return ok ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const bool ok = cont(1) && cont(2) && cont(3) && !(lead == 0xf0 && b(1) < 0x90) &&
                        !(lead == 0xf4 && b(1) > 0x8f);
        return ok ? 4 : 0;
    }
    return 0;
}

bool is_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

bool next_code_point(std::string_view text, std::size_t &at, char32_t &c_out) {
    static constexpr unsigned char lead_bits[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    const std::size_t n = at < text.size() ? utf8_sequence_length(text, at) : 0;
    if (n == 0) {
        return false;
    }
    char32_t c = static_cast<unsigned char>(text[at]) & lead_bits[n];
    for (std::size_t k = 1; k < n; ++k) {
        c = c << 6 | (static_cast<unsigned char>(text[at + k]) & 0x3f);
    }
    c_out = c;
    at += n;
    return true;
}

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

bool utf8_from_cp1252(std::string_view text, std::string &out) {
    bool whole = true;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const char32_t u = c >= 0x80 && c < 0xa0 ? cp1252_high[c - 0x80] : char32_t{c};
        whole = whole && u != replacement;
        append_utf8(out, u);
    }
    return whole;
}

bool cp1252_from_utf8(std::string_view text, std::string &out) {
    constexpr std::size_t high_n = sizeof cp1252_high / sizeof cp1252_high[0];
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        if (!next_code_point(text, at, c)) {
            return false;
        }
        std::size_t i = 0;
        while (i < high_n && cp1252_high[i] != c) {
            ++i;
        }
        if (i < high_n && c != replacement) {
            out += static_cast<char>(0x80 + i);
        } else if (c < 0x80 || (c >= 0xa0 && c <= 0xff)) {
            out += static_cast<char>(c);
        } else {
            return false;
        }
    }
    return true;
}

std::string utf8_from_ansi(std::string_view text) {
    if (is_utf8(text)) {
        return std::string(text);
    }
    std::string out;
    utf8_from_cp1252(text, out);
    return out;
}

bool utf8_from_utf16(const char16_t *text, std::string &out, Surrogates lone) {
    for (; *text != u'\0'; ++text) {
        char32_t c = *text;
        if (is_high_surrogate(c) && is_low_surrogate(text[1])) {
            c = 0x10000 + ((c - 0xd800) << 10) + (text[1] - 0xdc00);
            ++text;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            if (lone == Surrogates::strict) {
                return false;
            }
            c = replacement;
        }
        append_utf8(out, c);
    }
    return true;
}

bool utf16_from_utf8(std::string_view text, char16_t *out, std::size_t cap,
                     std::size_t *units_out, bool cut) {
    if (cap == 0) {
        return false;
    }
    std::size_t n = 0;
    std::size_t at = 0;
    char32_t c = 0;
    bool whole = true;
    while (at < text.size()) {
        if (!next_code_point(text, at, c)) {
            whole = false;
            break;
        }
        if (n + utf16_units(c) >= cap) {
            whole = false;
            if (cut) {
                break;
            }
            return false;
        }
        put_utf16(c, out + n);
        n += utf16_units(c);
    }
    out[n] = u'\0';
    if (units_out != nullptr) {
        *units_out = n;
    }
    return whole || cut;
}

std::string_view without_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && is_blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool profile_entry_writable(std::string_view section, const char *key, const char *value) {
    if (holds_control(without_blanks(section)) ||
        (value != nullptr && holds_control(without_blanks(value)))) {
        return false;
    }
    if (key == nullptr) {
        return true;
    }
    const std::string_view k = without_blanks(key);
    return !k.empty() && !holds_control(k) && k.find('=') == std::string_view::npos &&
           k.front() != '[' && k.front() != ';';
}

std::string xml_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string file_title(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/:");
    if (slash != std::string_view::npos) {
        path.remove_prefix(slash + 1);
    }
    const std::size_t dot = path.rfind('.');
    return std::string(dot != std::string_view::npos && dot > 0 ? path.substr(0, dot) : path);
}

}  // namespace razivu::standins
