// Windows-form paths on Linux: drive X: is the folder <prefix>/drive_x.
#include "platform/posix/paths.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "platform/platform.h"

namespace razivu::platform::posix {
namespace {

constexpr const char *windows_dir_text = "C:\\WINDOWS";

bool has_drive(const char *path) {
    return path != nullptr && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':';
}

// mkdir -p of an absolute host path; errors are left to the caller's open.
void make_host_dirs(const std::string &dir) {
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            std::string part = dir.substr(0, i);
            ::mkdir(part.c_str(), 0777);
        }
    }
}

}  // namespace

std::string prefix() {
    if (const char *p = std::getenv("RAZIVU_PREFIX"); p != nullptr && *p != '\0') {
        return p;
    }
    std::string base;
    if (const char *x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
        base = x;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return base + "/razivu";
}

std::string host_path(const char *path) {
    if (!has_drive(path)) {
        return path;
    }
    std::string out = prefix() + "/drive_";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    const char *rest = path + 2;
    if (*rest != '\0' && *rest != '\\' && *rest != '/') {
        out += '/';
    }
    for (; *rest != '\0'; ++rest) {
        out += *rest == '\\' ? '/' : *rest;
    }
    return out;
}

bool on_system_drive(const char *path) {
    return has_drive(path) && (path[0] == 'C' || path[0] == 'c');
}

void ensure_system_drive() {
    make_host_dirs(host_path(windows_dir_text));
}

}  // namespace razivu::platform::posix

namespace razivu::platform {
namespace {
bool windows_dir_unreadable = false;  // test seam of set_windows_dir_unreadable
}

std::FILE *open_file(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    if (posix::on_system_drive(path) && mode[0] != 'r') {
        posix::ensure_system_drive();
    }
    return std::fopen(posix::host_path(path).c_str(), mode);
}

int32_t make_dir(const char *path) {
    if (path == nullptr) {
        return -1;
    }
    if (posix::on_system_drive(path)) {
        posix::ensure_system_drive();
    }
    return ::mkdir(posix::host_path(path).c_str(), 0777) == 0 ? 0 : -1;
}

int32_t windows_dir(char *buf, int32_t cap) {
    if (windows_dir_unreadable) {
        return 0;
    }
    const auto len = static_cast<int32_t>(std::strlen(posix::windows_dir_text));
    if (buf == nullptr || cap <= len) {
        return len + 1;
    }
    std::memcpy(buf, posix::windows_dir_text, static_cast<std::size_t>(len) + 1);
    return len;
}

void set_windows_dir_unreadable(bool unreadable) {
    windows_dir_unreadable = unreadable;
}

}  // namespace razivu::platform
