#include "client/arguments.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <razivu/razivu.h>

#include "common/numbers.h"

namespace razivu_tool {
namespace {

constexpr int32_t max_boolean = 9;  // the decoder reads one character
// The longest line an argument file may hold: a:HEX of the longest field's
// bytes, with room to spare.
constexpr std::size_t max_argument_line = 4 * RAZIVU_MESSAGE_CAP;
// The most arguments read from a file.
constexpr std::size_t max_file_arguments = 100000;

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parse_hex(const char *text, std::string &out) {
    const std::size_t len = std::strlen(text);
    if (len % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < len; i += 2) {
        const int hi = hex_digit(text[i]);
        const int lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

// "null" after any backslashes loses one of them: s:\null is the text
// null, s:\\null the text \null; plain null is the null value.
const char *unescape_null(const char *value) {
    const char *p = value;
    while (*p == '\\') {
        ++p;
    }
    return p != value && std::strcmp(p, "null") == 0 ? value + 1 : value;
}

}  // namespace

bool read_arguments(std::FILE *file, std::vector<std::string> &out, std::string &reason) {
    std::string line;
    for (int c = std::fgetc(file); c != EOF || !line.empty(); c = std::fgetc(file)) {
        if (c != '\n' && c != EOF) {
            line += static_cast<char>(c);
            if (line.size() > max_argument_line) {
                reason = "line " + std::to_string(out.size() + 1) + " is over " +
                         std::to_string(max_argument_line) + " bytes";
                return false;
            }
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (out.size() == max_file_arguments) {
            reason = "more than " + std::to_string(max_file_arguments) + " arguments";
            return false;
        }
        out.push_back(line);
        line.clear();
        if (c == EOF) {
            break;
        }
    }
    if (std::ferror(file) != 0) {
        reason = std::string("cannot read it: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool parse_argument(const char *text, Field &out, std::string &reason) {
    if (text == nullptr || std::strlen(text) < 2 || text[1] != ':') {
        reason = "an argument is KIND:VALUE with KIND one of s, i, b, a";
        return false;
    }
    const char *value = text + 2;
    const bool null = std::strcmp(value, "null") == 0;
    switch (text[0]) {
    case 's': out = Field{Kind::string, 0, null ? "" : unescape_null(value), null}; return true;
    case 'a':
        out = Field{Kind::bytes, 0, {}, null};
        if (null || parse_hex(value, out.data)) {
            return true;
        }
        reason = "a: takes pairs of hex digits or null";
        return false;
    case 'i':
        out = Field{Kind::integer, 0, {}, false};
        if (parse_int32(value, INT32_MIN, INT32_MAX, out.number)) {
            return true;
        }
        reason = "i: takes a 32-bit decimal integer";
        return false;
    case 'b':
        out = Field{Kind::boolean, 0, {}, false};
        if (parse_int32(value, 0, max_boolean, out.number)) {
            return true;
        }
        reason = "b: takes one digit, 0 to 9";
        return false;
    default: reason = "unknown kind; use s, i, b or a"; return false;
    }
}

}  // namespace razivu_tool
