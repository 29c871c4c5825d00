// Line formatting shared by the trace entry points and the log writers.
#include "diagnostics/format.h"

#include <cstdio>

namespace razivu {

const char *LineBuffer::vformat(const char *format, std::va_list args) {
    if (format == nullptr) {
        fixed_[0] = '\0';
        return fixed_;
    }
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(fixed_, sizeof fixed_, format, args);
    if (n < 0 || static_cast<std::size_t>(n) < sizeof fixed_) {
        va_end(again);
        return fixed_;
    }
    long_.assign(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(long_.data(), long_.size(), format, again);
    va_end(again);
    return long_.c_str();
}

char *format_cut(char *buf, std::size_t cap, const char *format, std::va_list args) {
    if (cap == 0) {
        return buf;
    }
    buf[0] = '\0';
    if (format != nullptr && std::vsnprintf(buf, cap, format, args) < 0) {
        buf[0] = '\0';
    }
    return buf;
}

}  // namespace razivu
