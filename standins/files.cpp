// Whole files of the stand-ins, through the platform's file-call table.
#include "standins/files.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <random>

#include "platform/file_calls.h"

namespace razivu::standins {
namespace {

constexpr std::size_t read_chunk = 4096;
// New names tried before giving up: another file under a random name is a
// collision of 64 random bits, so more than one try means someone planted it.
constexpr int name_tries = 16;

platform::FileCalls &fs() {
    return platform::file_calls();
}

// Runs a call again for as long as a signal interrupts it.
template <typename Call>
auto retrying(Call call) {
    auto rc = call();
    while (rc == -1 && errno == EINTR) {
        rc = call();
    }
    return rc;
}

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

}  // namespace

ReadResult read_file(const std::string &path, std::size_t cap, std::string &out) {
    const int fd = retrying([&] { return fs().open_fd(path.c_str(), O_RDONLY | O_CLOEXEC, 0); });
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    out.clear();
    char chunk[read_chunk];
    ssize_t n = 0;
    while (out.size() <= cap &&
           (n = retrying([&] { return fs().read_fd(fd, chunk, sizeof chunk); })) > 0) {
        out.append(chunk, static_cast<std::size_t>(n));
    }
    fs().close_fd(fd);
    return n == 0 && out.size() <= cap ? ReadResult::ok : ReadResult::failed;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = retrying([&] { return fs().write_fd(fd, text.data(), text.size()); });
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int create_beside(const std::string &path, mode_t mode, std::string &tmp_out) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    for (int i = 0; i < name_tries; ++i) {
        tmp_out = dir + "." + base + ".razivu-" + random_suffix();
        const int fd = retrying([&] { return fs().open_fd(tmp_out.c_str(), flags, mode); });
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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
    bool ok = fs().chmod_fd(fd, mode) == 0 && write_all(fd, text) && fs().sync_fd(fd) == 0;
    ok = fs().close_fd(fd) == 0 && ok;
    if (!ok || fs().rename_host(tmp.c_str(), path.c_str()) != 0) {
        fs().unlink_host(tmp.c_str());
        return false;
    }
    return true;
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
    struct stat st {};
    return fs().stat_host(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_dir(const std::string &path) {
    struct stat st {};
    return fs().stat_host(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
