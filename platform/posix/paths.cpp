// Windows-form paths on Linux: drive X: is the folder <prefix>/drive_x.
#include "platform/posix/paths.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system_calls.h"

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

// The install tree of a system user without a home of its own.
constexpr const char *system_prefix = "/var/lib/razivu";

}  // namespace

std::string home_dir() {
    if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::string dir;
    const long cap_hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(cap_hint > 0 ? static_cast<std::size_t>(cap_hint) : 16384, '\0');
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        dir = found->pw_dir;
    }
    struct stat st {};
    if (dir.empty() || dir == "/" || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return {};
    }
    return dir;
}

std::string xdg_dir(const char *variable, const char *below_home) {
    if (const char *v = std::getenv(variable); v != nullptr && v[0] == '/') {
        return v;
    }
    const std::string home = home_dir();
    return home.empty() ? std::string() : home + below_home;
}

std::string xml_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string prefix() {
    if (const char *p = std::getenv("RAZIVU_PREFIX"); p != nullptr && *p != '\0') {
        return p;
    }
    if (const char *x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
        return std::string(x) + "/razivu";
    }
    const std::string home = home_dir();
    return home.empty() ? system_prefix : home + "/.local/share/razivu";
}

// Backslashes are separators everywhere: no Windows-form caller means a
// backslash inside a Linux file name. "X:rest" lies below the drive's folder,
// "\\server\share\rest" below <prefix>/unc/server/share, anything else
// is a host path (relative ones to the working folder).
std::string host_path(const char *path) {
    std::string out;
    const char *rest = path;
    if (has_drive(path)) {
        out = prefix() + "/drive_";
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
        rest = path + 2;
        if (*rest != '\0' && *rest != '\\' && *rest != '/') {
            out += '/';
        }
    } else if (path[0] == '\\' && path[1] == '\\') {
        out = prefix() + "/unc/";
        rest = path + 2;
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

// Writing on drive C creates it and the Windows directory first, as they
// always exist on Windows.
std::FILE *sys_open(const char *path, const char *mode) {
    if (posix::on_system_drive(path) && mode[0] != 'r') {
        posix::ensure_system_drive();
    }
    return std::fopen(posix::host_path(path).c_str(), mode);
}

int sys_rename(const char *from, const char *to) {
    return std::rename(posix::host_path(from).c_str(), posix::host_path(to).c_str());
}

int sys_remove(const char *path) {
    return std::remove(posix::host_path(path).c_str());
}

int32_t sys_make_dir(const char *path) {
    if (posix::on_system_drive(path)) {
        posix::ensure_system_drive();
    }
    return ::mkdir(posix::host_path(path).c_str(), 0777) == 0 ? 0 : -1;
}

constexpr FileCalls system_calls{sys_open,   stdio_write, stdio_flush,  stdio_close,
                                 sys_rename, sys_remove,  sys_make_dir};

}  // namespace

const FileCalls &system_file_calls() {
    return system_calls;
}

std::string host_path(const char *path) {
    return posix::host_path(path);
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
