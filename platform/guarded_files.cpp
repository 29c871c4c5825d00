// Files opened by path as a careful installer running as root opens them:
// new files made exclusively under unguessable names, nothing read that is
// not a regular file, locks that only their owners can hold.
#include <cstdint>
#include <random>
#include <string>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "platform/file_calls.h"

namespace razivu::platform {
namespace {

// New names tried before giving up: another file under a random name is a
// collision of 64 random bits, so more than one try means someone planted it.
constexpr int name_tries = 16;
// Lock files are their owner's alone.
constexpr unsigned private_mode = 0600;

std::string random_suffix() {
    static constexpr char hex[] = "0123456789abcdef";
    std::random_device source;
    uint64_t bits = (static_cast<uint64_t>(source()) << 32) ^ source();
    std::string out(16, '0');
    for (char &c : out) {
        c = hex[bits & 0xf];
        bits >>= 4;
    }
    return out;
}

// "<folder>/.<name>" for a host path, whichever separator it uses.
std::string hidden_beside(const std::string &host) {
    const std::size_t slash = host.find_last_of("/\\");
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return host.substr(0, base) + "." + host.substr(base);
}

// A lock file that another user made could be held by them for ever; its
// folder's owner could do worse to the files beside it anyway. One that root
// makes goes to the folder's owner, who may then take the lock as well.
bool usable_lock(int fd, const std::string &lock_path, const struct stat &st) {
#if defined(_WIN32)
    (void)fd;
    (void)lock_path;
    (void)st;
    return true;
#else
    const std::size_t slash = lock_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : lock_path.substr(0, slash + 1);
    struct stat folder {};
    if (file_calls().stat_host(dir.c_str(), &folder) != 0) {
        return false;
    }
    if (st.st_uid == 0 && ::geteuid() == 0 && folder.st_uid != 0) {
        (void)file_calls().chown_fd(fd, folder.st_uid, folder.st_gid);
    }
    return st.st_uid == ::geteuid() || st.st_uid == 0 || st.st_uid == folder.st_uid;
#endif
}

}  // namespace

int open_regular(const std::string &host, bool follow_link) {
    const int flags = O_RDONLY | open_guarded | (follow_link ? 0 : open_no_follow);
    const int fd = retrying([&] { return file_calls().open_fd(host.c_str(), flags, 0); });
    struct stat st {};
    if (fd < 0 || (file_calls().stat_fd(fd, &st) == 0 && S_ISREG(st.st_mode))) {
        return fd;
    }
    file_calls().close_fd(fd);
    errno = EINVAL;
    return -1;
}

bool write_all(int fd, const void *data, std::size_t len) {
    const char *at = static_cast<const char *>(data);
    while (len > 0) {
        const auto n = retrying([&] { return file_calls().write_fd(fd, at, len); });
        if (n <= 0) {
            return false;
        }
        at += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

int create_beside(const std::string &host, unsigned mode, std::string &tmp_out) {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | open_guarded | open_no_follow;
    const std::string stem = hidden_beside(host) + ".razivu-";
    for (int i = 0; i < name_tries; ++i) {
        tmp_out = stem + random_suffix();
        const int fd = retrying([&] { return file_calls().open_fd(tmp_out.c_str(), flags, mode); });
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

FileLock::FileLock(const std::string &host) {
    const std::string path = hidden_beside(host) + ".razivu-lock";
    constexpr int flags = O_RDWR | O_CREAT | open_guarded | open_no_follow;
    const int fd = retrying([&] { return file_calls().open_fd(path.c_str(), flags, private_mode); });
    if (fd < 0) {
        return;
    }
    struct stat st {};
    int err = 0;
    if (file_calls().stat_fd(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode) || !usable_lock(fd, path, st)) {
        err = EPERM;
    } else if (retrying([&] { return file_calls().lock_fd(fd, lock_exclusive); }) != 0) {
        err = errno;
    } else {
        fd_ = fd;
        return;
    }
    file_calls().close_fd(fd);
    errno = err;
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        file_calls().lock_fd(fd_, lock_release);
        file_calls().close_fd(fd_);
    }
}

}  // namespace razivu::platform
