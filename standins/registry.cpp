// Registry keys on Linux: folders below the prefix, matched in any case.
#include "standins/registry.h"

#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "platform/file_calls.h"
#include "standins/paths.h"

namespace razivu::standins {
namespace {

constexpr const char *local_machine_dir = "/registry/HKEY_LOCAL_MACHINE";

// A part that could climb out of the registry tree names no key.
bool usable_part(std::string_view part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string_view::npos;
}

// The entry of dir named part in any case; "" when there is none or dir
// cannot be read. An exact match wins over case-blind ones.
std::string child_named(const std::string &dir, const std::string &part) {
    std::vector<std::string> names;
    if (platform::file_calls().list_dir(dir.c_str(), &names) != 0) {
        return {};
    }
    std::string found;
    for (const std::string &name : names) {
        if (name == part) {
            return name;
        }
        if (found.empty() && ::strcasecmp(part.c_str(), name.c_str()) == 0) {
            found = name;
        }
    }
    return found;
}

}  // namespace

bool registry_key_exists(const char *subkey) {
    if (subkey == nullptr) {
        return false;
    }
    std::string dir = prefix() + local_machine_dir;
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
    std::vector<std::string> names;
    return platform::file_calls().list_dir(dir.c_str(), &names) == 0;
}

}  // namespace razivu::standins
