// Profile (INI) text: arbitrary file contents, section and key names through
// lookup and update. A value written under clean names must read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "standins/ini.h"

namespace {

// Names and values without the characters that the format gives meaning to,
// nor blanks at either end.
bool clean(std::string_view s, bool is_value) {
    constexpr std::string_view special("\n\r\0\"'\t\v\f[]=;", 12);
    return (is_value || !s.empty()) && s.find_first_of(special.substr(0, is_value ? 8 : 12)) == s.npos &&
           (s.empty() || (s.front() != ' ' && s.back() != ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Layout: section NUL key NUL value NUL file text.
    std::string_view in(reinterpret_cast<const char *>(data), size);
    std::string parts[3];  // section, key, value
    for (auto &part : parts) {
        const std::size_t nul = in.find('\0');
        if (nul == std::string_view::npos) {
            return 0;
        }
        part = in.substr(0, nul);
        in.remove_prefix(nul + 1);
    }
    const auto &[section, key, value] = parts;
    (void)razivu::standins::ini::lookup(in, section, key);
    (void)razivu::standins::ini::update(in, section, key.c_str(), nullptr);
    (void)razivu::standins::ini::update(in, section, nullptr, nullptr);
    const std::string written = razivu::standins::ini::update(in, section, key.c_str(), value.c_str());

    if (clean(section, false) && clean(key, false) && clean(value, true)) {
        const auto back = razivu::standins::ini::lookup(written, section, key);
        if (!back || *back != value) {
            __builtin_trap();
        }
    }
    return 0;
}
