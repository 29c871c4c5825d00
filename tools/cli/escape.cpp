#include "cli/escape.h"

#include <cctype>
#include <cstdio>

namespace razivu_tool {
namespace {

constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_char = 0x7f;

bool shown_as_is(unsigned char c, Escapes style) {
    return style == Escapes::c ? std::isprint(c) != 0 : c >= first_printable && c < delete_char;
}

}  // namespace

std::string escaped(std::string_view bytes, Escapes style, bool quoted) {
    std::string out = quoted ? "\"" : "";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || (quoted && c == '"')) {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (shown_as_is(c, style)) {
            out += ch;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, style == Escapes::c ? "\\x%02x" : "\\u%04x", c);
            out += esc;
        }
    }
    return quoted ? out + "\"" : out;
}

std::string json_string(std::string_view bytes) {
    return escaped(bytes, Escapes::json, true);
}

}  // namespace razivu_tool
