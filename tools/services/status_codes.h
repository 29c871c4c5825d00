// The support library's status codes (support.h) with a text each: the
// library has none for them, they are a family of their own.
#pragma once

#include <cstdint>
#include <span>

namespace razivu_tool {

struct Status {
    int32_t code;
    const char *text;
};

std::span<const Status> all_statuses();
// The text of a status code, or nullptr.
const char *status_text(int32_t code);

}  // namespace razivu_tool
