// COMLogLine: time-stamped lines appended to a caller's log file while
// COMLOGGING is "ON" or "on" (read once per process).
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "diagnostics/format.h"

namespace {

struct Logging {
    razivu::platform::Lock lock;  // held while COMLOGGING is read
    std::atomic<int32_t> read{0};  // COMLOGGING has been read
    std::atomic<int32_t> on{0};    // it was "ON" or "on" then
};
Logging logging;

// Shown in place of the ctime text when the time has none (years past 9999).
constexpr const char *no_time_text = "(time unknown)\n";

}  // namespace

extern "C" {

RAZIVU_API void COMCheckLogging(void) try {
    if (logging.read.load(std::memory_order_acquire) != 0) {
        return;
    }
    razivu::platform::Locked held(logging.lock);
    if (logging.read.load(std::memory_order_relaxed) != 0) {
        return;
    }
    if (const char *value = razivu::platform::env("COMLOGGING"); value != nullptr) {
        logging.on = (std::strcmp(value, "ON") == 0 || std::strcmp(value, "on") == 0) ? 1 : 0;
    }
    logging.read.store(1, std::memory_order_release);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMLogLine(const char *path, const char *format, ...) try {
    const std::time_t when = razivu::platform::now();
    COMCheckLogging();
    if (logging.on == 0 || path == nullptr) {
        return;
    }
    std::FILE *f = razivu::platform::open_file(path, "a");
    if (f == nullptr) {
        return;
    }
    char log_line[razivu::trace_line_cap];  // the formatted text, cut to fit
    va_list args;
    va_start(args, format);
    razivu::format_cut(log_line, sizeof log_line, format, args);
    va_end(args);
    char when_text[64];
    if (!razivu::platform::ctime_text(when, when_text, sizeof when_text)) {
        std::snprintf(when_text, sizeof when_text, "%s", no_time_text);
    }
    std::fprintf(f, "%s. At %s \n", log_line, when_text);
    std::fclose(f);
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"
