// The trace file as the library's own echoes ask for it, on every read and
// write of the transport. Not part of the public interface.
#pragma once

#include <cstdio>

namespace razivu::diagnostics {

// COMGetTraceFile in one call: the file trace lines go to, or null.
std::FILE *trace_file() noexcept;

}  // namespace razivu::diagnostics
