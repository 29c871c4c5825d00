// Whole files of the stand-ins, through the platform's file-call table.
#include "standins/files.h"

#include <algorithm>
#include <cerrno>

namespace razivu::standins {
namespace {

constexpr std::size_t read_chunk = 64 * 1024;

platform::FileCalls &fs() {
    return platform::file_calls();
}

bool lstat_is(const std::string &path, mode_t type) {
    struct stat st {};
    return fs().lstat_host(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

bool stat_is(const std::string &path, mode_t type) {
    struct stat st {};
    return fs().stat_host(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

}  // namespace

ReadResult read_file(const std::string &path, std::size_t cap, std::string &out) {
    const int fd = open_regular(path, true);
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    out.clear();
    const bool whole = read_rest(fd, cap, out);
    fs().close_fd(fd);
    return whole ? ReadResult::ok : ReadResult::failed;
}

bool read_rest(int fd, std::size_t cap, std::string &out) {
    std::string chunk(read_chunk, '\0');
    for (std::size_t room = cap + 1; room > 0;) {
        const ssize_t n = platform::retrying(
            [&] { return fs().read_fd(fd, chunk.data(), std::min(chunk.size(), room)); });
        if (n <= 0) {
            return n == 0;
        }
        out.append(chunk.data(), static_cast<std::size_t>(n));
        room -= static_cast<std::size_t>(n);
    }
    return false;  // a byte past cap
}

bool finish_file(int fd) {
    const bool synced = fs().sync_fd(fd) == 0;
    return fs().close_fd(fd) == 0 && synced;
}

bool commit_beside(int fd, const std::string &tmp, const std::string &path, std::string_view text) {
    const bool written = write_all(fd, text);
    if (!finish_file(fd) || !written || fs().rename_host(tmp.c_str(), path.c_str()) != 0) {
        fs().unlink_host(tmp.c_str());
        return false;
    }
    return true;
}

bool replace_file(const std::string &path, std::string_view text, mode_t mode, mode_t dir_mode) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || !make_dirs(path.substr(0, slash), dir_mode)) {
        return false;
    }
    std::string tmp;
    const int fd = create_beside(path, 0600, tmp);
    if (fd < 0) {
        return false;
    }
    if (fs().chmod_fd(fd, mode) != 0) {
        fs().close_fd(fd);
        fs().unlink_host(tmp.c_str());
        return false;
    }
    return commit_beside(fd, tmp, path, text);
}

bool make_dirs(const std::string &dir, mode_t mode) {
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            const std::string part = dir.substr(0, i);
            if (fs().make_dir_host(part.c_str(), mode) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

bool remove_file(const std::string &path) {
    return fs().unlink_host(path.c_str()) == 0 || errno == ENOENT;
}

bool is_regular_file(const std::string &path) {
    return stat_is(path, S_IFREG);
}

bool is_dir(const std::string &path) {
    return stat_is(path, S_IFDIR);
}

bool is_own_regular_file(const std::string &path) {
    return lstat_is(path, S_IFREG);
}

bool is_own_dir(const std::string &path) {
    return lstat_is(path, S_IFDIR);
}

bool holds_only_plain_files(const std::string &dir, int depth) {
    std::vector<std::string> names;
    if (depth < 0 || fs().list_dir(dir.c_str(), &names) != 0) {
        return false;
    }
    for (const std::string &name : names) {
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (fs().lstat_host(path.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                continue;  // gone since the listing
            }
            return false;
        }
        if (!S_ISREG(st.st_mode) &&
            !(S_ISDIR(st.st_mode) && holds_only_plain_files(path, depth - 1))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> list_files(const std::string &dir, std::string_view prefix,
                                    std::string_view suffix) {
    std::vector<std::string> names;
    std::vector<std::string> all;
    if (fs().list_dir(dir.c_str(), &all) != 0) {
        return names;
    }
    for (const std::string &name : all) {
        if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix)) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace razivu::standins
