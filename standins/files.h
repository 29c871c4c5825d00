// Whole files of the stand-ins, by host path, through the platform's
// file-call table: bounded reads of regular files only, replacement through
// a new file and a rename, locks around every read-modify-write, folders
// made on the way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/file_calls.h"

namespace razivu::standins {

using platform::create_beside;
using platform::FileLock;
using platform::open_regular;

enum class ReadResult { ok, missing, failed };
// Reads a whole file of at most cap bytes, following a link at its name;
// failed also when it is larger or not a regular file (a FIFO is never
// waited on).
ReadResult read_file(const std::string &path, std::size_t cap, std::string &out);

// Appends what is left of an open file to out, stopping after cap bytes:
// false when a read failed or more than cap bytes were there.
bool read_rest(int fd, std::size_t cap, std::string &out);

inline bool write_all(int fd, std::string_view text) {
    return platform::write_all(fd, text.data(), text.size());
}

// Flushes a new file to disk and closes it; false when either failed.
bool finish_file(int fd);

// Writes text into fd, a file create_beside made at tmp, and renames it over
// path, so that a reader sees the old file or the new one, never a part. fd
// is closed; on failure tmp is gone and path is as it was.
bool commit_beside(int fd, const std::string &tmp, const std::string &path, std::string_view text);

// Writes text to a new file beside path with the given mode and renames it
// over path. Missing folders are made with dir_mode. False when anything
// failed; path is then as it was and no new file is left behind.
bool replace_file(const std::string &path, std::string_view text, mode_t mode, mode_t dir_mode);

// mkdir -p: false when a folder on the way is missing and cannot be made.
bool make_dirs(const std::string &dir, mode_t mode);

// True when path is gone afterwards (also when it never was there).
bool remove_file(const std::string &path);
bool is_regular_file(const std::string &path);  // following links
bool is_dir(const std::string &path);           // following links
// A regular file or a folder by itself, not a link to one.
bool is_own_regular_file(const std::string &path);
bool is_own_dir(const std::string &path);

// True when a folder holds only regular files, and folders that do too, at
// most depth levels down: nothing that would make a reader of every file wait
// (a FIFO, a device, a socket) or take it elsewhere (a link).
bool holds_only_plain_files(const std::string &dir, int depth);

// Names in dir that begin with prefix and end with suffix.
std::vector<std::string> list_files(const std::string &dir, std::string_view prefix,
                                    std::string_view suffix);

}  // namespace razivu::standins
