// The arguments of `razivu call` on its command line: each a field written
// as KIND:VALUE.
#pragma once

#include <string>

#include "common/fields.h"

namespace razivu_tool {

// Parses "s:TEXT", "s:null", "i:N", "b:N" (0 to 9), "a:HEX" or "a:null".
// s:\null is the text "null" (one backslash before null is dropped, so
// s:\\null is "\null"). Returns false and a reason for anything else.
bool parse_argument(const char *text, Field &out, std::string &reason);

}  // namespace razivu_tool
