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
#include "standins/text.h"
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

bool enter_truetype(const char *staged, const char *target, const char *file_name) {
    char16_t face[face_name_cap];
    if (!face_name_of_file(staged, face)) {
        return false;
    }
    const std::u16string key = std::u16string(face) + std::u16string(truetype_suffix);
    const std::size_t name_len = std::strlen(file_name);
    const std::string narrow_value =
        std::string(file_name, name_len - replaced_suffix_len) + "ttf";
    char16_t value[profile_text_cap];
    if (key.size() > truetype_key_max || !usable_key(std::u16string_view(key)) ||
        !platform::narrow_to_utf16(narrow_value.c_str(), value, profile_text_cap)) {
        return false;
    }
    char16_t old_face[face_name_cap] = {};
    ByteSource existing;
    const bool replacing = open_source(target, existing);
    if (replacing) {
        if (!read_face_name(existing, old_face)) {
            old_face[0] = u'\0';
        }
        close_source(existing);
    }
    if (!platform::replace_file(staged, target)) {
        return false;
    }
    if (replacing) {
        remove_replaced_entries(old_face, value);
        platform::broadcast_font_change();
    }
    platform::font_table_add(target);
    if (!platform::fonts_profile_put_w(key.c_str(), value)) {
        return false;
    }
    platform::broadcast_font_change();
    return true;
}

// The description is text of the ANSI code page (1252): it is entered as
// its characters, and a font whose description has bytes without one is
// refused. The old steps broadcast before writing the entry; kept in that
// order.
bool enter_resource(const char *staged, const char *target, const char *file_name) {
    char description[description_cap];
    char key[profile_text_cap];
    std::string key_utf8;
    char16_t key16[profile_text_cap];
    char16_t value16[profile_text_cap];
    char16_t present[profile_text_cap];
    ByteSource src;
    if (!open_source(staged, src)) {
        return false;
    }
    const bool named = read_module_description(src, description) && description[0] != '\0' &&
                       has_font_directory(src);
    close_source(src);
    if (!named || !resource_key(description, key) ||
        !standins::utf8_from_cp1252(key, key_utf8) ||
        !standins::utf16_from_utf8(key_utf8, key16, profile_text_cap) ||
        !usable_key(std::u16string_view(key16)) ||
        !platform::narrow_to_utf16(file_name, value16, profile_text_cap) ||
        platform::fonts_profile_get_w(key16, present, static_cast<int32_t>(profile_text_cap)) > 0 ||
        !platform::replace_file(staged, target)) {
        return false;
    }
    platform::font_table_add(target);
    platform::broadcast_font_change();
    return platform::fonts_profile_put_w(key16, value16);
}

// What tells the two installs apart on their shared course.
struct InstallKind {
    const char *folder;         // below the Windows directory
    bool target_upper_case;     // the target takes the upper-cased file name
    // Names the staged copy, puts it in place of the target and enters it.
    bool (*enter)(const char *staged, const char *target, const char *file_name);
};

constexpr InstallKind truetype_install = {fonts_folder, false, enter_truetype};
constexpr InstallKind resource_install = {resource_folder, true, enter_resource};

// The caller's name upper-cased, the staged copy made and entered, or removed.
// The arguments have passed acceptable(), so both target paths fit.
//
// The source is first expanded into a new file beside the target, and the
// name is read from that copy: a compressed font is named by what it holds,
// and the installed file is replaced only by a copy known to be whole and
// readable. From reading the installed font's name to entering the new one,
// installs into the folder take turns, so that concurrent installs leave
// every entry, and one font under one name with the entry of its face.
int32_t install(const char *source_path, char *file_name, const InstallKind &kind) {
    char as_given[path_cap];
    char upper[path_cap];
    const bool given_fits = target_path(kind.folder, file_name, as_given);
    platform::upper_case(file_name, std::strlen(file_name));
    const char *target = kind.target_upper_case ? upper : as_given;
    std::string staged;
    if (!given_fits || !target_path(kind.folder, file_name, upper) ||
        same_path(source_path, target) || !platform::stage_copy(source_path, target, staged)) {
        return RAZIVU_STATUS_FAILED;
    }
    const std::string folder(target, static_cast<std::size_t>(std::strrchr(target, '\\') - target));
    const platform::FileLock turn(platform::host_path(folder.c_str()));
    if (!turn.held() || !kind.enter(staged.c_str(), target, file_name)) {
        platform::remove_file(staged.c_str());
        return RAZIVU_STATUS_FAILED;
    }
    return RAZIVU_STATUS_OK;
}

// Arguments that can install nothing leave the caller's file name as it was.
bool acceptable(const char *source_path, const char *file_name, const char *folder,
                std::size_t min_name_len) {
    char target[path_cap];
    return usable_file_name(file_name, min_name_len) &&
           std::strlen(file_name) <= max_profile_text &&
           strnlen(source_path, max_path_len + 1) <= max_path_len &&
           target_path(folder, file_name, target);
}

// The old TrueType steps refused the same path before upper-casing the name.
bool names_target(const char *source_path, const char *file_name) {
    char target[path_cap];
    return target_path(fonts_folder, file_name, target) && same_path(source_path, target);
}

}  // namespace
}  // namespace razivu::support

extern "C" {

RAZIVU_API int32_t InstallTrueTypeFont(const char *source_path, char *file_name) try {
    if (source_path == nullptr || file_name == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    using namespace razivu::support;
    if (!acceptable(source_path, file_name, fonts_folder, min_truetype_file_name) ||
        names_target(source_path, file_name)) {
        return RAZIVU_STATUS_FAILED;
    }
    return install(source_path, file_name, truetype_install);
}
RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

RAZIVU_API int32_t InstallFontResourceFile(const char *source_path, char *file_name) try {
    if (source_path == nullptr || file_name == nullptr) {
        return RAZIVU_STATUS_FAILED;
    }
    using namespace razivu::support;
    if (!acceptable(source_path, file_name, resource_folder, 1)) {
        return RAZIVU_STATUS_FAILED;
    }
    return install(source_path, file_name, resource_install);
}
RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

}  // extern "C"
