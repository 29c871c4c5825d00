// The debug trace: a file named by RAZIVU_DEBUG or COMSetTraceFile that gets
// every trace line, each followed by a print (and so the emptying) of the
// error stack.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "diagnostics/format.h"
#include "diagnostics/trace_internal.h"

namespace {

// Process-wide trace state.
struct Trace {
    int32_t decided = 0;        // the trace file has been chosen (env or COMSetTraceFile)
    std::FILE *file = nullptr;  // where trace lines and error stacks go, or none
};
Trace trace;

// Each formatted entry point has a buffer of its own.
razivu::LineBuffer debug_trace_line;
razivu::LineBuffer trace_line;
razivu::LineBuffer debug_printf_line;

}  // namespace

namespace razivu::diagnostics {

std::FILE *trace_file() noexcept {
    if (trace.decided == 0) {
        COMInitTrace();
    }
    return trace.file;
}

}  // namespace razivu::diagnostics

extern "C" {

RAZIVU_API void COMInitTrace(void) try {
    if (trace.decided != 0) {
        return;
    }
    trace.decided = 1;
    if (const char *path = razivu::platform::env("RAZIVU_DEBUG"); path != nullptr) {
        trace.file = razivu::platform::open_file(path, "w");
    }
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMSetTraceFile(const char *path) try {
    trace.decided = 1;
    if (trace.file != nullptr) {
        std::fclose(trace.file);
        trace.file = nullptr;
    }
    if (path != nullptr) {
        trace.file = razivu::platform::open_file(path, "w");
    }
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API FILE *COMGetTraceFile(void) try {
    return razivu::diagnostics::trace_file();
} RAZIVU_CATCH(nullptr, nullptr)

RAZIVU_API void COMWriteTraceLine(const char *text) try {
    COMInitTrace();
    if (trace.file == nullptr) {
        return;  // printing the stack would do nothing either
    }
    std::fprintf(trace.file, "%s", text != nullptr ? text : "");
    std::fflush(trace.file);
    COMPrintErrorStack(trace.file);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMDebugTrace(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(debug_trace_line.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMTrace(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(trace_line.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void COMDebugPrintf(const char *format, ...) try {
    va_list args;
    va_start(args, format);
    COMWriteTraceLine(debug_printf_line.vformat(format, args));
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"
