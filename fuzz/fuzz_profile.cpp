// Profile (INI) text: arbitrary file contents, section and key names through
// lookup and update.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "standins/ini.h"
#include "standins/text.h"

namespace {

// A value read back without the quotes around it.
bool quoted(std::string_view v) {
    return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

}  // namespace

// An accepted update adds no line but its entry and, for a new section, the
// section's header, and its value reads back; one that is refused is refused
// whatever the file holds.
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
    using namespace razivu::standins;
    const auto &[section, key, value] = parts;
    (void)ini::lookup(in, section, key);
    (void)ini::update(in, section, key.c_str(), nullptr);
    (void)ini::update(in, section, nullptr, nullptr);
    const auto written = ini::update(in, section, key.c_str(), value.c_str());
    const auto lines = [](std::string_view t) {
        return std::count(t.begin(), t.end(), '\n') + (t.empty() || t.back() == '\n' ? 0 : 1);
    };
    const auto back = written ? ini::lookup(*written, section, key) : std::nullopt;
    const std::string_view v = without_blanks(value);
    if (written.has_value() != ini::update("", section, key.c_str(), value.c_str()).has_value() ||
        (written && (lines(*written) > lines(in) + 2 || !back || (!quoted(v) && *back != v)))) {
        __builtin_trap();
    }
    return 0;
}
