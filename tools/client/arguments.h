// The arguments of `razivu call` on its command line: each a field written
// as KIND:VALUE.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/fields.h"

namespace razivu_tool {

// Parses "s:TEXT", "s:null", "i:N", "b:N" (0 to 9), "a:HEX" or "a:null".
// s:\null is the text "null" (one backslash before null is dropped, so
// s:\\null is "\null"). Returns false and a reason for anything else.
bool parse_argument(const char *text, Field &out, std::string &reason);

// Reads arguments from file, one a line as on the command line (a line
// break ends each, a CR before it is dropped). False with reason for a line
// longer than any field can be or more lines than a call may take.
bool read_arguments(std::FILE *file, std::vector<std::string> &out, std::string &reason);

}  // namespace razivu_tool
