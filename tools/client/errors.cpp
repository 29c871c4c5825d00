#include "client/errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <razivu/razivu.h>

#include "client/field_print.h"
#include "common/fields.h"

namespace razivu_tool {
namespace {

// A stack print of the trace: its first line, then "ERR> kind, code, text"
// per record, newest first.
constexpr const char *print_start = "Print error stack:";
constexpr const char *record_prefix = "ERR> ";
// Longer trace lines (whole message buffers) are skipped in pieces.
constexpr int line_cap = 512;
// Separates a record's function name from its cause.
constexpr const char *cause_separator = ":  ";

bool parse_record(const char *line, LibraryError &out) {
    int kind = 0;
    int code = 0;
    int text_at = 0;
    if (std::sscanf(line, "ERR> %d, %d, %n", &kind, &code, &text_at) != 2 || text_at == 0) {
        return false;
    }
    std::string text = line + text_at;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    out = LibraryError{true, kind, code, text};
    return true;
}

// The newest record the trace printed after mark: the first record of the
// last print that had any.
LibraryError read_back(long mark) {
    char path[RAZIVU_PATH_CAP] = {};
    const char *named = std::getenv("RAZIVU_DEBUG");
    if (mark < 0 || named == nullptr || GetHostPath(named, path, RAZIVU_PATH_CAP) != 0) {
        return {};
    }
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        return {};
    }
    LibraryError newest;
    bool print_has_record = false;
    char line[line_cap];
    std::fseek(f, mark, SEEK_SET);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, print_start, std::strlen(print_start)) == 0) {
            print_has_record = false;
        } else if (!print_has_record &&
                   std::strncmp(line, record_prefix, std::strlen(record_prefix)) == 0) {
            print_has_record = parse_record(line, newest);
        }
    }
    std::fclose(f);
    return newest;
}

}  // namespace

long trace_mark() {
    std::FILE *trace = COMGetTraceFile();
    if (trace == nullptr) {
        return -1;
    }
    std::fflush(trace);
    return std::ftell(trace);
}

LibraryError newest_error(long mark) {
    ErrorRecord rec{};
    if (COMPopError(&rec) != 0) {
        LibraryError out{true, rec.kind, rec.code, rec.text != nullptr ? rec.text : ""};
        drop_errors();
        return out;
    }
    return read_back(mark);
}

std::string cause_of(const LibraryError &error) {
    if (!error.found) {
        return "no error recorded";
    }
    const std::size_t at = error.text.find(cause_separator);
    return at != std::string::npos ? error.text.substr(at + std::strlen(cause_separator))
                                   : error.text;
}

std::string no_field_at(uint64_t at, std::string_view header, const std::string &why) {
    const std::string_view head =
        header.substr(0, std::min<std::size_t>(header.size(), field_header_len));
    const bool tag = !head.empty() && is_type_tag(head[0]);
    const std::string cause = !why.empty() ? why
                              : tag        ? cause_of(newest_error(-1))
                                           : "not a type tag";
    drop_errors();
    return "no field at byte " + std::to_string(at) + " (" + quoted(head) + "): " + cause;
}

}  // namespace razivu_tool
