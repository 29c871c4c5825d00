// Registry keys on Linux: HKEY_LOCAL_MACHINE\A\B is the folder
// <prefix>/registry/HKEY_LOCAL_MACHINE/A/B. Key names are case-blind, as
// in the Windows registry, so each part matches a folder of any case.
#include <dirent.h>
#include <string>
#include <string_view>
#include <strings.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace razivu::platform {
namespace {

constexpr const char *local_machine_dir = "/registry/HKEY_LOCAL_MACHINE";

// A part that could climb out of the registry tree names no key.
bool usable_part(std::string_view part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string_view::npos;
}

// The entry of dir named part in any case; "" when there is none or dir
// cannot be read. An exact match wins over case-blind ones.
std::string child_named(const std::string &dir, const std::string &part) {
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return {};
    }
    std::string found;
    while (const dirent *e = ::readdir(d)) {
        if (part == e->d_name) {
            found = part;
            break;
        }
        if (found.empty() && ::strcasecmp(part.c_str(), e->d_name) == 0) {
            found = e->d_name;
        }
    }
    ::closedir(d);
    return found;
}

}  // namespace

// A key opens when every part names a folder that can be read.
bool registry_key_exists(const char *subkey) {
    if (subkey == nullptr) {
        return false;
    }
    std::string dir = posix::prefix() + local_machine_dir;
    std::string_view rest(subkey);
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        const std::string name = usable_part(part) ? child_named(dir, std::string(part)) : "";
        if (name.empty()) {
            return false;
        }
        dir += "/" + name;
    }
    DIR *key = ::opendir(dir.c_str());
    if (key == nullptr) {
        return false;
    }
    ::closedir(key);
    return true;
}

}  // namespace razivu::platform
