// printf-style formatting into a line buffer of 300 bytes that grows for the
// rare longer line (a traced message buffer), so trace lines are never cut.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "razivu/export.h"

namespace razivu {

// Capacity of a trace line buffer: 299 characters and the terminator.
constexpr std::size_t trace_line_cap = 300;

class LineBuffer {
public:
    // Formats into the buffer and returns its text; the text stays valid
    // until the next call. A null format gives the empty text.
    const char *vformat(const char *format, std::va_list args) RAZIVU_PRINTF(2, 0);

private:
    char fixed_[trace_line_cap] = {};
    std::string long_;
};

// Formats into buf of cap bytes, cutting what does not fit; returns buf.
char *format_cut(char *buf, std::size_t cap, const char *format, std::va_list args)
    RAZIVU_PRINTF(3, 0);

}  // namespace razivu
