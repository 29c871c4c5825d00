// The file-call table. Every file operation of the library and of the Linux
// stand-ins (standins/) goes through it, so that tests can make a chosen call
// fail the way SQLite's system-call table does; reset_file_calls() puts the
// system's calls back. Failures leave errno set.
//
// Not through the table: what the libraries behind the stand-ins do on their
// own (fontconfig scanning a font folder and writing its cache, libmspack
// reading a compressed file and writing its expansion), the home directory's
// look-up in the password database, and the drive stand-in's statfs and
// realpath of a drive folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace razivu::platform {

struct FileCalls {
    // Buffered files by Windows-form or host path: the log files and the
    // helpers of platform.h.
    std::FILE *(*open)(const char *path, const char *mode);               // fopen
    std::size_t (*write)(const void *data, std::size_t len, std::FILE *f);  // fwrite of len bytes
    int (*flush)(std::FILE *f);                                           // fflush: 0 or EOF
    int (*close)(std::FILE *f);                                           // fclose: 0 or EOF
    int (*rename)(const char *from, const char *to);                      // 0 or -1
    int (*remove)(const char *path);                                      // 0 or -1
    int32_t (*make_dir)(const char *path);  // 0 when created, -1 when not (exists, no parent)
    // Descriptors by host path: the Linux stand-ins. Each is the system call
    // of its name, made once; callers retry EINTR. Windows, which has the
    // services themselves, answers ENOSYS where it has no such call.
    int (*open_fd)(const char *host, int flags, unsigned mode);  // open
    ssize_t (*read_fd)(int fd, void *buf, std::size_t n);      // read
    ssize_t (*write_fd)(int fd, const void *buf, std::size_t n);  // write
    int (*sync_fd)(int fd);                                     // fsync
    int (*truncate_fd)(int fd, off_t len);                      // ftruncate
    int (*close_fd)(int fd);                                    // close
    int (*stat_fd)(int fd, struct stat *out);                   // fstat
    int (*stat_host)(const char *host, struct stat *out);       // stat (follows links)
    int (*lstat_host)(const char *host, struct stat *out);      // lstat
    ssize_t (*read_link)(const char *host, char *buf, std::size_t cap);  // readlink
    int (*chmod_fd)(int fd, unsigned mode);                     // fchmod
    int (*chown_fd)(int fd, unsigned uid, unsigned gid);        // fchown
    int (*lock_fd)(int fd, int operation);                      // flock
    int (*rename_host)(const char *from, const char *to);       // rename
    int (*unlink_host)(const char *host);                       // unlink
    int (*make_dir_host)(const char *host, unsigned mode);      // mkdir
    // The names in a folder without "." and "..": 0, or -1 when it cannot be read.
    int (*list_dir)(const char *host, std::vector<std::string> *names_out);
};

// The calls in use.
FileCalls &file_calls();
// Restores the system's calls.
void reset_file_calls();

}  // namespace razivu::platform
