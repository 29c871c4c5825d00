// Inner steps of the trace and the error stack that write into the trace
// file, shared by trace.cpp and errstack.cpp.
#pragma once

#include <cstdio>

namespace razivu::diagnostics {

// Calls write(file, text) with the trace file, while no other thread writes
// there or changes it; does nothing when no trace file is open.
void with_trace_file(void (*write)(std::FILE *file, const char *text), const char *text);

// Prints the calling thread's error stack into stream, emptying it.
void print_error_stack(std::FILE *stream);

}  // namespace razivu::diagnostics
