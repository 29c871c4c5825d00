// Files of the Program Manager stand-in: the XDG base folders, whole-file
// reads with a bound, and replacement by rename.
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/paths.h"
#include "platform/posix/progman.h"

namespace razivu::platform::progman {
namespace {

// Permissions of launchers and menus: the user's own files, readable by all.
constexpr mode_t file_mode = 0644;
// XDG base folders that are missing are made for the user alone.
constexpr mode_t dir_mode = 0700;
constexpr std::size_t read_chunk = 4096;

bool make_dirs(const std::string &dir) {
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            if (::mkdir(dir.substr(0, i).c_str(), dir_mode) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string data_home() {
    return posix::xdg_dir("XDG_DATA_HOME", "/.local/share");
}

std::string config_home() {
    return posix::xdg_dir("XDG_CONFIG_HOME", "/.config");
}

ReadResult read_file(const std::string &path, std::size_t cap, std::string &out) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    out.clear();
    char chunk[read_chunk];
    ssize_t n = 0;
    while ((n = ::read(fd, chunk, sizeof chunk)) != 0 && out.size() <= cap) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return n == 0 && out.size() <= cap ? ReadResult::ok : ReadResult::failed;
}

bool replace_file(const std::string &path, std::string_view text) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || !make_dirs(path.substr(0, slash))) {
        return false;
    }
    std::string tmp = path.substr(0, slash + 1) + ".razivu-XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, file_mode) == 0 && write_all(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool remove_file(const std::string &path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool file_exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> list_files(const std::string &dir, std::string_view prefix,
                                    std::string_view suffix) {
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent *e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        if (name.size() >= prefix.size() + suffix.size() &&
            name.substr(0, prefix.size()) == prefix &&
            name.substr(name.size() - suffix.size()) == suffix) {
            names.emplace_back(name);
        }
    }
    ::closedir(d);
    return names;
}

}  // namespace razivu::platform::progman
