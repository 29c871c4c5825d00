#include "json.h"

#include <cstdio>

namespace razivu_tool {
namespace {

constexpr unsigned char first_printable = 0x20;
constexpr unsigned char delete_char = 0x7f;

}  // namespace

std::string json_string(std::string_view bytes) {
    std::string out = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < first_printable || c >= delete_char) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace razivu_tool
