// The debug trace: a file named by RAZIVU_DEBUG or COMSetTraceFile that gets
// every trace line, each followed by a print (and so the emptying) of the
// error stack.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "diagnostics/boundary.h"
#include "diagnostics/trace_internal.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "diagnostics/format.h"

namespace {

// Process-wide trace state. Once decided, the file is read without the lock
// (a send or receive asks for it every time); it changes, and lines go into
// it, under the lock.
struct Trace {
    razivu::platform::Lock lock;
    std::atomic<bool> decided{false};         // chosen (env or COMSetTraceFile)
    std::atomic<std::FILE *> file{nullptr};   // where trace lines and error stacks go, or none
};
Trace trace;

// Each formatted entry point has a buffer of its own, per thread.
struct Lines {
    razivu::LineBuffer debug_trace;
    razivu::LineBuffer trace;
    razivu::LineBuffer debug_printf;
};
razivu::platform::PerThread<Lines> lines;

// Decides the file from RAZIVU_DEBUG, once; the caller holds the lock.
void decide_locked() {
    if (trace.decided.load(std::memory_order_relaxed)) {
        return;
    }
    if (const char *path = razivu::platform::env("RAZIVU_DEBUG"); path != nullptr) {
        trace.file.store(razivu::platform::open_file(path, "w"), std::memory_order_relaxed);
    }
    trace.decided.store(true, std::memory_order_release);
}

inline std::FILE *current_file() {
    if (!trace.decided.load(std::memory_order_acquire)) [[unlikely]] {
        razivu::platform::Locked held(trace.lock);
        decide_locked();
    }
    return trace.file.load(std::memory_order_acquire);
}

void write_line(std::FILE *file, const char *text) {
    std::fprintf(file, "%s", text != nullptr ? text : "");
    std::fflush(file);
    razivu::diagnostics::print_error_stack(file);
}

}  // namespace

namespace razivu::diagnostics {

std::FILE *trace_file() noexcept {
    return current_file();
}

void with_trace_file(void (*write)(std::FILE *file, const char *text), const char *text) {
    if (current_file() == nullptr) {
        return;
    }
    platform::Locked held(trace.lock);
    if (std::FILE *file = trace.file.load(std::memory_order_relaxed); file != nullptr) {
        write(file, text);
    }
}

}  // namespace razivu::diagnostics

extern "C" {

RAZIVU_API void COMInitTrace(void) try {
    current_file();
} RAZIVU_CATCH_VOID(nullptr)

// The old file is closed under the lock, so no line of another thread is
// being written into it; a caller that still holds it from COMGetTraceFile
// must not use it afterwards.
RAZIVU_API void COMSetTraceFile(const char *path) try {
    razivu::platform::Locked held(trace.lock);
    if (std::FILE *old = trace.file.exchange(nullptr); old != nullptr) {
        std::fclose(old);
    }
    if (path != nullptr) {
        trace.file.store(razivu::platform::open_file(path, "w"));
    }
    trace.decided.store(true, std::memory_order_release);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API FILE *COMGetTraceFile(void) try {
    return current_file();
} RAZIVU_CATCH(nullptr, nullptr)

// A line and the stack it is followed by go in together: another thread's
// line never stands between them.
RAZIVU_API void COMWriteTraceLine(const char *text) try {
    razivu::diagnostics::with_trace_file(write_line, text);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMDebugTrace(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(lines.get().debug_trace.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMTrace(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(lines.get().trace.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMDebugPrintf(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(lines.get().debug_printf.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"
