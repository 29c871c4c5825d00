// The library's own account of a failure, taken before anything can lose it.
//
// The error stack holds the cause of a failed library call, but with a trace
// file open (RAZIVU_DEBUG) every trace line prints the stack into that file
// and empties it; a connect that fails traces right after its push. So the
// cause is taken from the stack when it is there, and otherwise read back
// from what the trace printed since the call began.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace razivu_tool {

struct LibraryError {
    bool found = false;
    int32_t kind = 0;
    int32_t code = 0;
    std::string text;  // the record's text: "... function NAME:  cause"
};

// Where the trace file ends now; -1 without a trace file.
long trace_mark();

// The newest error recorded since mark: popped from the error stack (which
// is emptied), else the newest record printed into the trace file after
// mark. found is false when there is neither.
LibraryError newest_error(long mark);

// The cause part of a record's text (behind "function NAME:  "); the whole
// text when it has no such part; "no error recorded" when none was found.
std::string cause_of(const LibraryError &error);

// "no field at byte AT ("HEADER"): WHY" for bytes the decoders refused.
// Without why given, it is "not a type tag" or the library's cause (the
// stack is emptied).
std::string no_field_at(uint64_t at, std::string_view header, const std::string &why = {});

}  // namespace razivu_tool
