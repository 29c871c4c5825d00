// InstallTrueTypeFont and InstallFontResourceFile: copy a font into the
// Windows directory, load it and enter it in section "fonts" of the system
// profile.
//
// Unlike the old steps, nothing installed is touched before the new font has
// been read and copied in full: the copy replaces the target whole or not at
// all, and a failed copy or profile write is reported as a failure.
#include <algorithm>
#include <cstring>
#include <string>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/fonts.h"
#include "support/fonts_internal.h"

namespace razivu::support {
namespace {

constexpr std::size_t replaced_suffix_len = 3;  // "ttf" takes the place of the last three

bool same_text_ignoring_case(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// Removes the entries of the font that was installed under this file name:
// the bare face name, as the old steps did, and "<face> (TrueType)" when it
// still names this file, so that no entry keeps a face the file no longer has.
void remove_replaced_entries(const std::u16string &old_face, const char16_t *value) {
    if (old_face.empty()) {
        return;
    }
    if (usable_key(std::u16string_view(old_face))) {
        platform::fonts_profile_put_w(old_face.c_str(), nullptr);
    }
    const std::u16string key = old_face + std::u16string(truetype_suffix);
    if (key.size() > truetype_key_max || !usable_key(std::u16string_view(key))) {
        return;
    }
    char16_t entered[profile_text_cap];
    platform::fonts_profile_get_w(key.c_str(), entered, static_cast<int32_t>(profile_text_cap));
    if (same_text_ignoring_case(entered, value)) {
        platform::fonts_profile_put_w(key.c_str(), nullptr);
    }
}

// Everything up to the copy that may fail without a change: paths, the new
// face name and its key, the profile value.
struct TrueTypePlan {
    char target[path_cap];            // C:\WINDOWS\FONTS\<file name as given>
    std::u16string key;               // "<face> (TrueType)"
    char16_t value[profile_text_cap];  // FILE NAME with "ttf" as its last three
};

int32_t install_truetype(const char *source_path, char *file_name) {
    TrueTypePlan plan{};
    if (!usable_file_name(file_name, min_truetype_file_name) ||
        strnlen(source_path, max_path_len + 1) > max_path_len ||
        !target_path(fonts_folder, file_name, plan.target) ||
        same_path(source_path, plan.target)) {
        return RAZIVU_STATUS_FAILED;
    }
    const std::size_t name_len = std::strlen(file_name);
    platform::upper_case(file_name, name_len);
    char16_t face[face_name_cap];
    if (!face_name_of_file(source_path, face)) {
        return RAZIVU_STATUS_FAILED;
    }
    plan.key = std::u16string(face) + std::u16string(truetype_suffix);
    const std::string value =
        std::string(file_name, name_len - replaced_suffix_len) + "ttf";
    if (plan.key.size() > truetype_key_max || !usable_key(std::u16string_view(plan.key)) ||
        !platform::narrow_to_utf16(value.c_str(), plan.value, profile_text_cap)) {
        return RAZIVU_STATUS_FAILED;
    }

    char16_t old_face[face_name_cap] = {};
    ByteSource existing;
    const bool replacing = open_source(plan.target, existing);
    if (replacing) {
        if (!read_face_name(existing, old_face)) {
            old_face[0] = u'\0';
        }
        close_source(existing);
    }
    if (!platform::expand_copy(source_path, plan.target)) {
        return RAZIVU_STATUS_FAILED;
    }
    if (replacing) {
        remove_replaced_entries(old_face, plan.value);
        platform::broadcast_font_change();
    }
    platform::font_table_add(plan.target);
    if (!platform::fonts_profile_put_w(plan.key.c_str(), plan.value)) {
        return RAZIVU_STATUS_FAILED;
    }
    platform::broadcast_font_change();
    return RAZIVU_STATUS_OK;
}

bool read_description_of(const char *path, char (&text_out)[description_cap]) {
    ByteSource src;
    if (!open_source(path, src)) {
        return false;
    }
    const bool ok = read_module_description(src, text_out) && text_out[0] != '\0' &&
                    has_font_directory(src);
    close_source(src);
    return ok;
}

// The old steps broadcast before writing the entry here; kept in that order.
int32_t install_resource(const char *source_path, char *file_name) {
    char target[path_cap];
    if (!usable_file_name(file_name, 1) || std::strlen(file_name) > max_profile_text ||
        strnlen(source_path, max_path_len + 1) > max_path_len ||
        !target_path(resource_folder, file_name, target)) {
        return RAZIVU_STATUS_FAILED;
    }
    platform::upper_case(file_name, std::strlen(file_name));
    char description[description_cap];
    char key[profile_text_cap];
    char present[profile_text_cap];
    if (!read_description_of(source_path, description) || !resource_key(description, key) ||
        !usable_key(std::string_view(key)) ||
        platform::fonts_profile_get(key, present, static_cast<int32_t>(sizeof present)) > 0) {
        return RAZIVU_STATUS_FAILED;
    }
    if (!target_path(resource_folder, file_name, target) || same_path(source_path, target) ||
        !platform::expand_copy(source_path, target)) {
        return RAZIVU_STATUS_FAILED;
    }
    platform::font_table_add(target);
    platform::broadcast_font_change();
    return platform::fonts_profile_put(key, file_name) ? RAZIVU_STATUS_OK : RAZIVU_STATUS_FAILED;
}

}  // namespace
}  // namespace razivu::support

extern "C" {

RAZIVU_API int32_t InstallTrueTypeFont(const char *source_path, char *file_name) try {
    if (source_path == nullptr || file_name == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    return razivu::support::install_truetype(source_path, file_name);
}
RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

RAZIVU_API int32_t InstallFontResourceFile(const char *source_path, char *file_name) try {
    if (source_path == nullptr || file_name == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    return razivu::support::install_resource(source_path, file_name);
}
RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

}  // extern "C"
