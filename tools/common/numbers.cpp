#include "common/numbers.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace razivu_tool {

bool parse_integer(const char *text, int64_t min, int64_t max, int64_t &out) {
    if (text == nullptr) {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool parse_int32(const char *text, int32_t min, int32_t max, int32_t &out) {
    int64_t value = 0;
    if (!parse_integer(text, min, max, value)) {
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

bool parse_milliseconds(const char *text, int64_t max_ms, int64_t &out) {
    constexpr std::size_t max_whole_digits = 12;
    constexpr std::size_t max_decimals = 3;
    if (text == nullptr) {
        return false;
    }
    const std::size_t whole = std::strspn(text, "0123456789");
    const char *rest = text + whole;
    const std::size_t decimals = *rest == '.' ? std::strspn(rest + 1, "0123456789") : 0;
    const char *end = *rest == '.' ? rest + 1 + decimals : rest;
    if (whole + decimals == 0 || whole > max_whole_digits || decimals > max_decimals ||
        *end != '\0' || (*rest == '.' && decimals == 0)) {
        return false;
    }
    int64_t ms = 0;
    for (const char *p = text; p < rest; ++p) {
        ms = ms * 10 + (*p - '0');
    }
    for (std::size_t i = 0; i < max_decimals; ++i) {
        ms = ms * 10 + (i < decimals ? rest[1 + i] - '0' : 0);
    }
    if (ms > max_ms) {
        return false;
    }
    out = ms;
    return true;
}

std::string seconds_text(int64_t ms) {
    std::string out = std::to_string(ms / 1000);
    std::string decimals = std::to_string(1000 + ms % 1000).substr(1);
    while (!decimals.empty() && decimals.back() == '0') {
        decimals.pop_back();
    }
    return decimals.empty() ? out : out + "." + decimals;
}

}  // namespace razivu_tool
