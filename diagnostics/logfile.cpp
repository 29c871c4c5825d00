// The log writer: one entry per call, each written by opening, writing and
// closing the file, and the once-per-process header that empties the first
// file a process writes.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diagnostics/boundary.h"
#include "diagnostics/format.h"
#include "diagnostics/logfile_internal.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/logfile.h"

namespace razivu::diagnostics {
namespace {

// Process-wide state of the log writer. The lock is held over the header,
// so that no thread appends to the file before the first entry empties it.
struct Writer {
    platform::Lock lock;
    int32_t first_entry = 1;    // > 0 until a WriteLog reached its header step
    int32_t protocol_part = 0;  // counted up before each header
};
Writer writer;

// Room in an entry beside its message: the empty line before it, the
// timestamp, the level label and the line end.
constexpr std::size_t entry_frame_cap = 64;

// One thread's entry in the making.
struct Entry {
    char message[log_message_cap];                 // the formatted text of one WriteLog entry
    char text[log_message_cap + entry_frame_cap];  // the entry as it goes into the file
};
platform::PerThread<Entry> entries;

const char *stamp_text() {
    const char *stamp = GetLogTimestamp();
    return stamp != nullptr ? stamp : no_timestamp_text;
}

// ERROR and WARNING entries stand after an empty line; plain ones do not.
const char *level_label(int32_t level) {
    if (level == log_level_error_low || level == RAZIVU_LOG_ERROR) {
        return "ERROR: ";
    }
    return level == RAZIVU_LOG_WARNING ? "WARNING: " : "";
}

// Empties the file and writes the header; false when it cannot be opened.
// The flag is cleared first, so a process tries its header only once.
bool write_header(const char *path, const char *module) {
    writer.first_entry = 0;
    std::FILE *head = platform::open_own_file(path, "w");
    if (head == nullptr) {
        return false;
    }
    ++writer.protocol_part;
    char line[128];
    std::snprintf(line, sizeof line, " protocol part %d\n", static_cast<int>(writer.protocol_part));
    platform::write_text(head, "--------------------------------------------------\n");
    platform::write_text(head, stamp_text());
    platform::write_text(head, " ");
    platform::write_text(head, module);
    platform::write_text(head, line);
    platform::close_file(head);
    return true;
}

// The whole entry goes out in one write, so that the entries of processes
// sharing a log file (the workers of a server) never interleave.
void write_entry(Entry &entry, const char *path, int32_t level) {
    const char *label = level_label(level);
    const int len = std::snprintf(entry.text, sizeof entry.text, "%s%s %s%s\n",
                                  label[0] != '\0' ? "\n" : "", stamp_text(), label, entry.message);
    if (len > 0) {
        platform::append_whole(path, entry.text,
                               std::min(static_cast<std::size_t>(len), sizeof entry.text - 1));
    }
}

// True when the entry may follow: the header is written, or was tried.
bool header_done(const char *path, const char *module) {
    platform::Locked held(writer.lock);
    return writer.first_entry <= 0 || write_header(path, module != nullptr ? module : "");
}

}  // namespace

RAZIVU_PRINTF(4, 0)
void write_log(const char *file, const char *module, int32_t level, const char *format,
               std::va_list args) {
    if (format == nullptr) {
        return;
    }
    Entry &entry = entries.get();
    format_cut(entry.message, sizeof entry.message, format, args);
    char path[RAZIVU_PATH_CAP] = {};
    if (!resolve_log_path(module, file, path)) {
        return;
    }
    if (path[0] == '\0') {
        std::snprintf(path, sizeof path, "%s", last_resort_log);
    }
    if (header_done(path, module)) {
        write_entry(entry, path, level);
    }
}

}  // namespace razivu::diagnostics

extern "C" {

RAZIVU_API void WriteLog(const char *file, const char *module, int32_t level, const char *format,
                         ...) try {
    va_list args;
    va_start(args, format);
    razivu::diagnostics::write_log(file, module, level, format, args);
    va_end(args);
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void ResetLogFile(const char *module, const char *file) try {
    char path[RAZIVU_PATH_CAP] = {};
    razivu::diagnostics::resolve_log_path(module, file, path);
    if (path[0] != '\0') {
        if (std::FILE *f = razivu::platform::open_own_file(path, "w"); f != nullptr) {
            razivu::platform::close_file(f);
        }
    }
} RAZIVU_CATCH_VOID(nullptr)

}  // extern "C"
