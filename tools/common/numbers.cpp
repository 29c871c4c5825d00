#include "common/numbers.h"

#include <cerrno>
#include <cstdlib>

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

}  // namespace razivu_tool
