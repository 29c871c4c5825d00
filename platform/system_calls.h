// The system's own call tables, one per platform; the shared code keeps the
// tables in use and puts these back on reset. Only platform code includes this.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace razivu::platform {

const FileCalls &system_file_calls();
// The C library's own entries of the file table, the same everywhere.
std::size_t stdio_write(const void *data, std::size_t len, std::FILE *f);
int stdio_flush(std::FILE *f);
int stdio_close(std::FILE *f);
const NetCalls &system_net_calls();
// Frees a thread's blocks and the record (posix/ and win32/ call it when the
// thread ends).
struct ThreadRecord;
void free_thread_record(ThreadRecord *record);
const DdeCalls &system_dde_calls();

// The text of a socket error number the C library has no text for (Windows'
// knows the classic numbers only), or nullptr.
const char *socket_error_text(int err);

// Copies a profile value into buf of cap bytes, cut to cap - 1 characters and
// terminated; returns the characters copied (0 for a null buf or cap <= 0).
int32_t copy_profile_value(std::string_view value, char *buf, int32_t cap);
// The same for the default value of a read that found nothing.
int32_t copy_profile_default(const char *def, char *buf, int32_t cap);

}  // namespace razivu::platform
