// The timestamp text of log entries.
#include <cstdio>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/logfile.h"
#include "diagnostics/logfile_internal.h"

namespace razivu::diagnostics {

const char *format_timestamp(const std::tm *tm, int32_t ms, char *buf, std::size_t cap) {
    if (tm == nullptr) {
        return nullptr;
    }
    // The year field counts years since 1900: 2000 prints as 100.
    std::snprintf(buf, cap, "[%2.2d.%2.2d.%2.2d:%2.2d.%2.2d.%2.2d %.3d]", tm->tm_mday,
                  tm->tm_mon + 1, tm->tm_year, tm->tm_hour, tm->tm_min, tm->tm_sec,
                  static_cast<int>(ms));
    return buf;
}

}  // namespace razivu::diagnostics

namespace {
// The text last returned by GetLogTimestamp on the calling thread; room for
// any int fields.
struct Stamp {
    char text[96];
};
razivu::platform::PerThread<Stamp> stamps;
}  // namespace

extern "C" RAZIVU_API const char *GetLogTimestamp(void) try {
    std::tm local{};
    const bool known = razivu::platform::local_time(razivu::platform::now(), &local);
    const int32_t ms = razivu::platform::now_millis();
    Stamp &stamp = stamps.get();
    return razivu::diagnostics::format_timestamp(known ? &local : nullptr, ms, stamp.text,
                                                 sizeof stamp.text);
} RAZIVU_CATCH(nullptr, nullptr)
