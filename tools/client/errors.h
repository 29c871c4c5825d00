// The library's own account of a failure: the newest record of the error
// stack, taken before anything can lose it.
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

// The newest record on the error stack, popped; the stack is emptied. found
// is false when it was empty (a trace file, RAZIVU_DEBUG, empties it at every
// trace line).
LibraryError newest_error();

// The cause part of a record's text (behind "function NAME:  "); the whole
// text when it has no such part; "no error recorded" when none was found.
std::string cause_of(const LibraryError &error);

// "no field at byte AT ("HEADER"): WHY" for bytes the decoders refused.
// Without why given, it is "not a type tag" or the library's cause (the
// stack is emptied).
std::string no_field_at(uint64_t at, std::string_view header, const std::string &why = {});

}  // namespace razivu_tool
