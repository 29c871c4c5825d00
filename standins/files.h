// Whole files of the stand-ins, by host path, through the platform's
// file-call table: bounded reads, replacement through a new file and a
// rename, folders made on the way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace razivu::standins {

enum class ReadResult { ok, missing, failed };
// Reads a whole file of at most cap bytes; failed also when it is larger.
ReadResult read_file(const std::string &path, std::size_t cap, std::string &out);

// Writes all of text to fd, retrying short and interrupted writes.
bool write_all(int fd, std::string_view text);

// Creates a new file beside path under a name no other file has, opened for
// writing with O_EXCL and without following a link, with mode (less the
// umask): its descriptor, or -1. tmp_out receives its path.
int create_beside(const std::string &path, mode_t mode, std::string &tmp_out);

// Writes text to a new file beside path with the given mode and renames it
// over path, so that a reader sees the old file or the new one, never a part.
// Missing folders are made with dir_mode. False when anything failed; path is
// then as it was and no new file is left behind.
bool replace_file(const std::string &path, std::string_view text, mode_t mode, mode_t dir_mode);

// mkdir -p: false when a folder on the way is missing and cannot be made.
bool make_dirs(const std::string &dir, mode_t mode);

// True when path is gone afterwards (also when it never was there).
bool remove_file(const std::string &path);
bool is_regular_file(const std::string &path);
bool is_dir(const std::string &path);
// Names in dir that begin with prefix and end with suffix.
std::vector<std::string> list_files(const std::string &dir, std::string_view prefix,
                                    std::string_view suffix);

}  // namespace razivu::standins
