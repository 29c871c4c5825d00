// The calendar time the library stamps its logs and traces with, read through
// a seam so that tests can set the clock (a 32-bit time_t past 2038, say).
#include <atomic>

#include "platform/platform.h"

namespace razivu::platform {
namespace {

std::time_t system_clock() {
    return std::time(nullptr);
}

// Process-wide state of the seam.
struct Seam {
    std::atomic<std::time_t (*)()> read{system_clock};  // set_clock's clock, or the system's
};
Seam seam;

}  // namespace

std::time_t now() {
    return seam.read.load()();
}

void set_clock(std::time_t (*read)()) {
    seam.read = read != nullptr ? read : system_clock;
}

}  // namespace razivu::platform
