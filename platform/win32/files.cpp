// Files, directories, profiles and the Windows directory on Windows: the
// real Win32 calls, paths used as they are.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

bool windows_dir_unreadable = false;  // test seam of set_windows_dir_unreadable

std::FILE *sys_open(const char *path, const char *mode) {
    return std::fopen(path, mode);
}

int sys_rename(const char *from, const char *to) {
    return std::rename(from, to);
}

int sys_remove(const char *path) {
    return std::remove(path);
}

int32_t sys_make_dir(const char *path) {
    return CreateDirectoryA(path, nullptr) != 0 ? 0 : -1;
}

// The descriptor entries, which only the Linux stand-ins use: the C
// run-time's calls where it has them.
int sys_open_fd(const char *path, int flags, unsigned mode) {
    return ::_open(path, flags | _O_BINARY, static_cast<int>(mode));
}

ssize_t sys_read_fd(int fd, void *buf, std::size_t n) {
    return ::_read(fd, buf, static_cast<unsigned>(n));
}

ssize_t sys_write_fd(int fd, const void *buf, std::size_t n) {
    return ::_write(fd, buf, static_cast<unsigned>(n));
}

int sys_stat_fd(int fd, struct stat *out) {
    return ::fstat(fd, out);
}

int sys_stat_host(const char *path, struct stat *out) {
    return ::stat(path, out);
}

int sys_make_dir_host(const char *path, unsigned) {
    return ::_mkdir(path);
}

int sys_list_dir(const char *path, std::vector<std::string> *names_out) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((std::string(path) + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return -1;
    }
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
            names_out->emplace_back(found.cFileName);
        }
    } while (FindNextFileA(h, &found) != 0);
    FindClose(h);
    return 0;
}

// The whole file's first byte stands for the file: every locker locks the
// same range, and LockFileEx waits as flock does.
int sys_lock_fd(int fd, int operation) {
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    OVERLAPPED at{};
    const BOOL done = operation == lock_release
                          ? UnlockFileEx(file, 0, 1, 0, &at)
                          : LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
    if (done == 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// Owners and modes of descriptors have no counterpart the library uses.
template <typename... Args>
int unsupported(Args...) {
    errno = ENOSYS;
    return -1;
}

constexpr FileCalls system_calls{
    // The library's own files open as any other: the Windows file system has
    // no FIFOs, and the folders' access lists decide who may plant a link.
    sys_open,      sys_open,      stdio_write,  stdio_flush,   stdio_close,   sys_rename,
    sys_remove,    sys_make_dir,  sys_open_fd,  sys_read_fd,   sys_write_fd,
    ::_commit,     ::_close,      sys_stat_fd,  sys_stat_host, sys_stat_host,
    unsupported<int, unsigned>,   unsupported<int, unsigned, unsigned>,
    sys_lock_fd,   sys_rename,    ::_unlink,    sys_make_dir_host, sys_list_dir,
};

}  // namespace

const FileCalls &system_file_calls() {
    return system_calls;
}

std::string host_path(const char *path) {
    return path;
}

int32_t windows_dir(char *buf, int32_t cap) {
    if (windows_dir_unreadable || cap < 0) {
        return 0;
    }
    return static_cast<int32_t>(GetWindowsDirectoryA(buf, static_cast<UINT>(cap)));
}

void set_windows_dir_unreadable(bool unreadable) {
    windows_dir_unreadable = unreadable;
}

int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file) {
    // Without a section or key Windows would list names, and without a file
    // read WIN.INI; the library's callers get the default instead.
    if (section == nullptr || key == nullptr || file == nullptr) {
        return copy_profile_default(def, buf, cap);
    }
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    return static_cast<int32_t>(
        GetPrivateProfileStringA(section, key, def, buf, static_cast<DWORD>(cap), file));
}

bool profile_put(const char *section, const char *key, const char *value, const char *file) {
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

}  // namespace razivu::platform
