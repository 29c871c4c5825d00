// The file-call table. Every file operation of the library and of the Linux
// stand-ins (standins/) goes through it, so that tests can make a chosen call
// fail the way SQLite's system-call table does; reset_file_calls() puts the
// system's calls back. Failures leave errno set.
//
// Not through the table: what fontconfig does on its own (scanning a font
// folder and writing its cache), the LZ functions of Windows, the home
// directory's look-up in the password database, and the drive stand-in's
// statfs and realpath of a drive folder.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace razivu::platform {

struct FileCalls {
    // Buffered files by Windows-form or host path: the log files and the
    // helpers of platform.h.
    std::FILE *(*open)(const char *path, const char *mode);               // fopen
    // fopen "a" or "w" of a file in the library's own folders (the log
    // tree): on Linux never through a link at the last step, never a FIFO or
    // device, never waiting, and "w" empties only a regular file.
    std::FILE *(*open_own)(const char *path, const char *mode);
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
    int (*close_fd)(int fd);                                    // close
    int (*stat_fd)(int fd, struct stat *out);                   // fstat
    int (*stat_host)(const char *host, struct stat *out);       // stat (follows links)
    int (*lstat_host)(const char *host, struct stat *out);      // lstat
    int (*chmod_fd)(int fd, unsigned mode);                     // fchmod
    int (*chown_fd)(int fd, unsigned uid, unsigned gid);        // fchown
    int (*lock_fd)(int fd, int operation);  // flock; LockFileEx and UnlockFileEx on Windows
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

// lock_fd's operations, numbered as flock numbers them.
constexpr int lock_exclusive = 2;
constexpr int lock_release = 8;

// Flags every descriptor opened by path carries where the system has them:
// not handed to child programs, no wait for the other end of a FIFO; and,
// where the caller asks, no link followed at the last step. Windows has no
// FIFOs in its file system and no such flags.
#if defined(_WIN32)
constexpr int open_guarded = 0x0080;  // _O_NOINHERIT
constexpr int open_no_follow = 0;
#else
constexpr int open_guarded = O_CLOEXEC | O_NONBLOCK;
constexpr int open_no_follow = O_NOFOLLOW;
#endif

// Runs a call again for as long as a signal interrupts it.
template <typename Call>
auto retrying(Call call) {
    auto rc = call();
    while (rc == -1 && errno == EINTR) {
        rc = call();
    }
    return rc;
}

// ---- Steps over the table, the same on every platform (guarded_files.cpp) ----

// Opens a host path for reading when it is a regular file: never waits on a
// FIFO or device, and follows a link at the last step only when asked. The
// descriptor, or -1 with errno set (ENOENT: missing, ELOOP: a link refused,
// EINVAL: not a regular file).
int open_regular(const std::string &host, bool follow_link);

// Writes all of text to fd, retrying short and interrupted writes.
bool write_all(int fd, const void *data, std::size_t len);

// Creates a new file beside a host path, under a name no other file has
// (".<name>.razivu-<16 random hex digits>"), exclusively and without
// following a link, with mode less the umask: its descriptor, or -1.
// tmp_out receives its path.
int create_beside(const std::string &host, unsigned mode, std::string &tmp_out);

// An exclusive advisory lock that every thread and process taking one for
// the same path waits for: a lock file ".<name>.razivu-lock" beside the path,
// made for its owner alone and kept, so that no two holders ever lock two
// different files. Released when the object goes. held() is false (errno
// set) when the lock file cannot be made or opened, is not a regular file,
// or belongs to another user, who could hold it for ever.
class FileLock {
public:
    explicit FileLock(const std::string &host);
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;  // the locked lock file, or -1
};

}  // namespace razivu::platform
