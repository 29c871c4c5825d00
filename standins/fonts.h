// The font stand-ins: libmspack for the LZ expansion copy and fontconfig
// for the system font table.
#pragma once

#include <string>

namespace razivu::standins {

// Copies the regular file at host path from into a new file beside host
// path to (create_beside), expanding an SZDD (LZ) file; other files are
// copied unchanged. The copy is flushed to disk and its path left in
// staged_out. false, with no copy left, when the source is not a regular file
// or cannot be read, its compressed data ends early, or the copy cannot be
// made or written.
bool stage_copy(const std::string &from, const std::string &to, std::string &staged_out);

// Makes the font file at host path visible to the user's programs: its
// folder listed in a fontconfig file of ours, the file added to this
// process's fonts and the folder's cache rebuilt. false when any step failed.
bool font_table_add(const std::string &file);

}  // namespace razivu::standins
