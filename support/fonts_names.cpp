// The name, key and path rules of the install operations: what may be stored
// and entered, where a font goes, and what counts as the same path.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "standins/text.h"
#include "support/fonts_internal.h"

namespace razivu::support {
namespace {

constexpr char32_t first_printable = 0x20;
constexpr char32_t delete_char = 0x7F;

}  // namespace

bool target_path(const char *folder, const char *file_name, char (&path_out)[path_cap]) {
    char windir[path_cap];
    const int32_t len = platform::windows_dir(windir, static_cast<int32_t>(sizeof windir));
    if (len <= 0 || len >= static_cast<int32_t>(sizeof windir)) {
        return false;
    }
    platform::upper_case(windir, static_cast<std::size_t>(len));
    const int n = std::snprintf(path_out, path_cap, "%s\\%s\\%s", windir, folder, file_name);
    return n > 0 && static_cast<std::size_t>(n) <= max_path_len;
}

bool same_path(const char *a, const char *b) {
    std::string x(a);
    std::string y(b);
    if (x.size() != y.size()) {
        return false;
    }
    platform::upper_case(x.data(), x.size());
    platform::upper_case(y.data(), y.size());
    return x == y;
}

bool usable_file_name(const char *name, std::size_t min_len) {
    const std::size_t len = strnlen(name, max_path_len + 1);
    if (len < min_len || len > max_path_len) {
        return false;
    }
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '\\' || c == '/' || c == ':' || c < first_printable || c == delete_char) {
            return false;
        }
    }
    return true;
}

// Surrogates must come in pairs: a lone one has no UTF-8 form to write.
bool usable_key(std::u16string_view key) {
    std::string utf8;
    return standins::utf8_from_utf16(std::u16string(key).c_str(), utf8) &&
           standins::profile_entry_writable({}, utf8.c_str(), nullptr);
}

// A colon as the description's last character leaves no name, and neither
// does one followed by a single character: such a font is not entered.
bool resource_key(std::string_view description, char (&key_out)[profile_text_cap]) {
    const std::size_t colon = description.find(':');
    if (colon == std::string_view::npos || colon + 2 >= description.size()) {
        return false;
    }
    const std::string_view name = description.substr(colon + 2);
    const std::string_view suffix =
        description.find(vector_marker) != std::string_view::npos ? plotter_suffix : "";
    if (name.size() + suffix.size() > max_profile_text) {
        return false;
    }
    std::memcpy(key_out, name.data(), name.size());
    std::memcpy(key_out + name.size(), suffix.data(), suffix.size());
    key_out[name.size() + suffix.size()] = '\0';
    return true;
}

}  // namespace razivu::support
