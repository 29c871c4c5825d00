// Inner steps of the trace, shared by trace.cpp, errstack.cpp and the
// transport's echoes. Not part of the public interface.
#pragma once

#include <cstdio>

namespace razivu::diagnostics {

// COMGetTraceFile in one call: the file trace lines go to, or null. Asked on
// every read and write of the transport, so it takes no lock once decided.
std::FILE *trace_file() noexcept;

// Calls write(file, text) with the trace file, while no other thread writes
// there or changes it; does nothing when no trace file is open.
void with_trace_file(void (*write)(std::FILE *file, const char *text), const char *text);

// Prints the calling thread's error stack into stream, emptying it.
void print_error_stack(std::FILE *stream);

}  // namespace razivu::diagnostics
