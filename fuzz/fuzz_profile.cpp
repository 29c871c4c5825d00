// Profile (INI) text: arbitrary file contents, section and key names through
// lookup and update. A value written under clean names must read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/ini.h"

namespace {

// Names and values without the characters that the format gives meaning to.
bool clean(std::string_view s, bool is_value) {
    if (s.empty() && !is_value) {
        return false;
    }
    if (!s.empty() && (s.front() == ' ' || s.back() == ' ' || s.front() == '\t' || s.back() == '\t')) {
        return false;
    }
    for (char c : s) {
        if (c == '\n' || c == '\r' || c == '\0' || c == '"' || c == '\'' || c == '\t' || c == '\v' ||
            c == '\f' || (!is_value && (c == '[' || c == ']' || c == '=' || c == ';'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Layout: section NUL key NUL value NUL file text.
    std::string_view in(reinterpret_cast<const char *>(data), size);
    std::string_view parts[3];
    for (auto &part : parts) {
        const std::size_t nul = in.find('\0');
        if (nul == std::string_view::npos) {
            return 0;
        }
        part = in.substr(0, nul);
        in.remove_prefix(nul + 1);
    }
    const std::string section(parts[0]);
    const std::string key(parts[1]);
    const std::string value(parts[2]);

    (void)razivu::platform::ini::lookup(in, section, key);
    (void)razivu::platform::ini::update(in, section, key.c_str(), nullptr);
    (void)razivu::platform::ini::update(in, section, nullptr, nullptr);
    const std::string written = razivu::platform::ini::update(in, section, key.c_str(), value.c_str());

    if (clean(section, false) && clean(key, false) && clean(value, true)) {
        const auto back = razivu::platform::ini::lookup(written, section, key);
        if (!back || *back != value) {
            __builtin_trap();
        }
    }
    return 0;
}
