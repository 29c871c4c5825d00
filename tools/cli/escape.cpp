#include "cli/escape.h"

#include <cstring>

#include "standins/text.h"

namespace razivu_tool {
namespace {

namespace text = razivu::standins;

constexpr char32_t replacement = 0xFFFD;
constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_char = 0x7f;
constexpr char32_t c1_first = 0x80;
constexpr char32_t c1_last = 0x9f;

// The next character of bytes at `at` (moved past it); false, with at moved
// past one byte, for a byte that is no character of the encoding.
bool next_char(std::string_view bytes, std::size_t &at, Encoding encoding, char32_t &c_out) {
    if (encoding == Encoding::utf8) {
        if (text::next_code_point(bytes, at, c_out)) {
            return true;
        }
        ++at;
        return false;
    }
    std::string utf8;
    const bool known = text::utf8_from_cp1252(bytes.substr(at++, 1), utf8);
    std::size_t from = 0;
    return known && text::next_code_point(utf8, from, c_out);
}

// Characters that act on a terminal, or reorder or break what follows.
bool is_control(char32_t c) {
    return c < first_printable || c == delete_char || (c >= c1_first && c <= c1_last) ||
           c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

constexpr char hex_digits[] = "0123456789abcdef";

// \xNN of a byte.
void append_byte_escape(std::string &out, unsigned char c) {
    out += "\\x";
    out += hex_digits[c >> 4];
    out += hex_digits[c & 0xf];
}

// \u{N...} of a character.
void append_char_escape(std::string &out, char32_t c) {
    std::string digits;
    for (; c != 0 || digits.empty(); c >>= 4) {
        digits.insert(digits.begin(), hex_digits[c & 0xf]);
    }
    out += "\\u{" + digits + "}";
}

}  // namespace

bool parse_encoding(const char *name, Encoding &out) {
    const struct {
        const char *name;
        Encoding encoding;
    } names[] = {{"utf-8", Encoding::utf8},
                 {"utf8", Encoding::utf8},
                 {"cp1252", Encoding::cp1252},
                 {"windows-1252", Encoding::cp1252}};
    for (const auto &n : names) {
        if (name != nullptr && std::strcmp(name, n.name) == 0) {
            out = n.encoding;
            return true;
        }
    }
    return false;
}

const char *encoding_name(Encoding encoding) {
    return encoding == Encoding::utf8 ? "utf-8" : "cp1252";
}

std::string shown(std::string_view bytes, Encoding encoding, bool quoted) {
    std::string out = quoted ? "\"" : "";
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t start = at;
        char32_t c = 0;
        if (!next_char(bytes, at, encoding, c)) {
            append_byte_escape(out, static_cast<unsigned char>(bytes[start]));
        } else if (quoted && (c == '\\' || c == '"')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (is_control(c)) {
            if (c < c1_first) {
                append_byte_escape(out, static_cast<unsigned char>(c));
            } else {
                append_char_escape(out, c);
            }
        } else {
            text::append_utf8(out, c);
        }
    }
    return quoted ? out + "\"" : out;
}

std::string shown_ascii(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= first_printable && c < delete_char) {
            out += ch;
        } else {
            append_byte_escape(out, c);
        }
    }
    return out;
}

std::string decoded(std::string_view bytes, Encoding encoding) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t c = 0;
        text::append_utf8(out, next_char(bytes, at, encoding, c) ? c : replacement);
    }
    return out;
}

std::string json_string(std::string_view text) {
    const std::string utf8 = decoded(text, Encoding::utf8);
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < first_printable || c == delete_char) {
            out += "\\u00";
            out += hex_digits[c >> 4];
            out += hex_digits[c & 0xf];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string hex(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += hex_digits[c >> 4];
        out += hex_digits[c & 0xf];
    }
    return out;
}

}  // namespace razivu_tool
