// Windows-form paths on Linux: drive X: is the folder <prefix>/drive_x.
#include "standins/paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "platform/file_calls.h"
#include "standins/files.h"

namespace razivu::standins {
namespace {

// The install tree of a system user without a home of its own.
constexpr const char *system_prefix = "/var/lib/razivu";
// Folders made on the way to the Windows directory, as on a fresh system.
constexpr mode_t system_dir_mode = 0777;

// An ASCII letter: isalpha would take bytes of other scripts in some locales.
bool has_drive(const char *path) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path != nullptr && letter(path[0]) && path[1] == ':';
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// The rest of a Windows-form path below its root, as Windows resolves it:
// "." steps stay, ".." steps go up but never above the root, which is the
// first root_steps steps (a share's server and name), empty steps vanish.
// A separator at the end stays.
std::string below_root(const char *rest, std::size_t root_steps) {
    std::vector<std::string> steps;
    for (const char *at = rest; *at != '\0';) {
        const char *end = at;
        while (*end != '\0' && !is_separator(*end)) {
            ++end;
        }
        const std::string step(at, end);
        if (step == "..") {
            if (steps.size() > root_steps) {
                steps.pop_back();
            }
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        at = *end != '\0' ? end + 1 : end;
    }
    std::string out;
    for (const std::string &step : steps) {
        out += "/" + step;
    }
    return *rest != '\0' && is_separator(rest[std::strlen(rest) - 1]) ? out + "/" : out;
}

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
    if (dir.empty() || dir == "/" || !is_dir(dir)) {
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

std::string data_home() {
    return xdg_dir("XDG_DATA_HOME", "/.local/share");
}

std::string config_home() {
    return xdg_dir("XDG_CONFIG_HOME", "/.config");
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
// "\\server\share\rest" below <prefix>/unc/server/share, and neither ever
// climbs out of it; anything else is a host path (relative ones to the
// working folder), used as it is.
std::string host_path(const char *path) {
    if (has_drive(path)) {
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
        return prefix() + "/drive_" + letter + below_root(path + 2, 0);
    }
    if (path[0] == '\\' && path[1] == '\\') {
        return prefix() + "/unc" + below_root(path + 2, 2);
    }
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool on_system_drive(const char *path) {
    return has_drive(path) && (path[0] == 'C' || path[0] == 'c');
}

void ensure_system_drive() {
    make_dirs(host_path(windows_dir_text), system_dir_mode);
}

}  // namespace razivu::standins
