// Files, directories, profiles and the Windows directory on Linux: the
// system's calls, with Windows-form paths mapped by the stand-ins.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system_calls.h"
#include "standins/paths.h"
#include "standins/profile.h"

namespace razivu::platform {
namespace {

std::atomic<bool> windows_dir_unreadable{false};  // test seam of set_windows_dir_unreadable

// Writing on drive C creates it and the Windows directory first, as they
// always exist on Windows.
std::FILE *sys_open(const char *path, const char *mode) {
    if (standins::on_system_drive(path) && mode[0] != 'r') {
        standins::ensure_system_drive();
    }
    return std::fopen(standins::host_path(path).c_str(), mode);
}

// A link, FIFO or device planted at the name fails with ELOOP or EINVAL
// instead of being written through, waited on or emptied.
std::FILE *sys_open_own(const char *path, const char *mode) {
    const bool append = mode[0] == 'a';
    if (!append && mode[0] != 'w') {
        errno = EINVAL;
        return nullptr;
    }
    if (standins::on_system_drive(path)) {
        standins::ensure_system_drive();
    }
    const std::string host = standins::host_path(path);
    const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : 0) | open_guarded | open_no_follow;
    const int fd = retrying([&] { return ::open(host.c_str(), flags, 0666); });
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        err = EINVAL;
    } else if (!append && retrying([&] { return ::ftruncate(fd, 0); }) != 0) {
        err = errno;
    } else if (std::FILE *f = ::fdopen(fd, mode); f != nullptr) {
        return f;
    } else {
        err = errno;
    }
    ::close(fd);
    errno = err;
    return nullptr;
}

int sys_rename(const char *from, const char *to) {
    return std::rename(standins::host_path(from).c_str(), standins::host_path(to).c_str());
}

int sys_remove(const char *path) {
    return std::remove(standins::host_path(path).c_str());
}

int32_t sys_make_dir(const char *path) {
    if (standins::on_system_drive(path)) {
        standins::ensure_system_drive();
    }
    return ::mkdir(standins::host_path(path).c_str(), 0777) == 0 ? 0 : -1;
}

int sys_open_fd(const char *host, int flags, unsigned mode) {
    return ::open(host, flags, mode);
}

int sys_list_dir(const char *host, std::vector<std::string> *names_out) {
    DIR *d = ::opendir(host);
    if (d == nullptr) {
        return -1;
    }
    while (const dirent *e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names_out->emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    return 0;
}

static_assert(lock_exclusive == LOCK_EX && lock_release == LOCK_UN);

constexpr FileCalls system_calls{
    sys_open,   sys_open_own, stdio_write, stdio_flush, stdio_close, sys_rename,
    sys_remove, sys_make_dir, sys_open_fd, ::read,      ::write,     ::fsync,
    ::close,    ::fstat,      ::stat,      ::lstat,     ::fchmod,    ::fchown,
    ::flock,    ::rename,     ::unlink,    ::mkdir,     sys_list_dir,
};

// A name without a directory part lives in the Windows directory.
std::string profile_path(const char *file) {
    if (std::strchr(file, '\\') != nullptr || std::strchr(file, '/') != nullptr) {
        return file;
    }
    char dir[1024];
    const int32_t len = windows_dir(dir, sizeof dir);
    if (len <= 0 || len >= static_cast<int32_t>(sizeof dir)) {
        return file;
    }
    return std::string(dir) + "\\" + file;
}

}  // namespace

const FileCalls &system_file_calls() {
    return system_calls;
}

std::string host_path(const char *path) {
    return standins::host_path(path);
}

int32_t windows_dir(char *buf, int32_t cap) {
    if (windows_dir_unreadable) {
        return 0;
    }
    const auto len = static_cast<int32_t>(std::strlen(standins::windows_dir_text));
    if (buf == nullptr || cap <= len) {
        return len + 1;
    }
    std::memcpy(buf, standins::windows_dir_text, static_cast<std::size_t>(len) + 1);
    return len;
}

void set_windows_dir_unreadable(bool unreadable) {
    windows_dir_unreadable = unreadable;
}

int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file) {
    std::string value;
    if (section != nullptr && key != nullptr && file != nullptr &&
        standins::profile_read(profile_path(file), section, key, value)) {
        return copy_profile_value(value, buf, cap);
    }
    return copy_profile_default(def, buf, cap);
}

bool profile_put(const char *section, const char *key, const char *value, const char *file) {
    return section != nullptr && file != nullptr &&
           standins::profile_write(profile_path(file), section, key, value);
}

}  // namespace razivu::platform
