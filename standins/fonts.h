// The font stand-ins: libmspack for the LZ expansion copy and fontconfig
// for the system font table.
#pragma once

#include <string>

namespace razivu::standins {

// Copies the file at host path from to host path to, expanding an SZDD (LZ)
// file; other files are copied unchanged. false when the source cannot be
// read, its compressed data ends early, or the target cannot be written; the
// target may then hold a part.
bool expand_copy(const std::string &from, const std::string &to);

// Makes the font file at host path visible to the user's programs: its
// folder listed in a fontconfig file of ours, the file added to this
// process's fonts and the folder's cache rebuilt. false when any step failed.
bool font_table_add(const std::string &file);

}  // namespace razivu::standins
