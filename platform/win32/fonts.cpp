// Font installation services on Windows: the LZ expansion functions, the GDI
// font table, section "fonts" of the system profile and the font-change
// broadcast, called as they are.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <lzexpand.h>
#include <string>

#include "platform/platform.h"

namespace razivu::platform {
namespace {

constexpr const char *fonts_section = "fonts";
constexpr const wchar_t *fonts_section_w = L"fonts";

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is a UTF-16 code unit");

const wchar_t *wide(const char16_t *text) {
    return reinterpret_cast<const wchar_t *>(text);
}

// LZCopy reports no short input of its own: the expanded size the source
// announces (its length when not compressed) is compared with the bytes
// written.
bool lz_copy(const char *source, const char *target) {
    OFSTRUCT in_info{};
    OFSTRUCT out_info{};
    const INT in = LZOpenFileA(const_cast<LPSTR>(source), &in_info, OF_READ);
    if (in < 0) {
        return false;
    }
    const INT out = LZOpenFileA(const_cast<LPSTR>(target), &out_info, OF_CREATE);
    if (out < 0) {
        LZClose(in);
        return false;
    }
    const LONG expected = LZSeek(in, 0, SEEK_END);
    const bool rewound = LZSeek(in, 0, SEEK_SET) == 0;
    const LONG copied = rewound ? LZCopy(in, out) : -1;
    LZClose(in);
    LZClose(out);
    return expected >= 0 && copied >= expected;
}

}  // namespace

// The target's folder is made when missing: SYSTEM below the Windows
// directory is absent from 64-bit Wine prefixes, though Windows always has it.
bool expand_copy(const char *source, const char *target) {
    if (source == nullptr || target == nullptr) {
        return false;
    }
    const char *slash = std::strrchr(target, '\\');
    if (slash != nullptr && slash != target) {
        CreateDirectoryA(std::string(target, static_cast<std::size_t>(slash - target)).c_str(),
                         nullptr);
    }
    return lz_copy(source, target);
}

bool replace_file(const char *from, const char *to) {
    return from != nullptr && to != nullptr &&
           MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const char *path) {
    return path != nullptr && DeleteFileA(path) != 0;
}

bool font_table_add(const char *path) {
    return path != nullptr && AddFontResourceA(path) != 0;
}

void broadcast_font_change() {
    SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
}

int32_t fonts_profile_get(const char *key, char *buf, int32_t cap) {
    if (key == nullptr || buf == nullptr || cap <= 0) {
        return 0;
    }
    return static_cast<int32_t>(
        GetProfileStringA(fonts_section, key, "", buf, static_cast<DWORD>(cap)));
}

bool fonts_profile_put(const char *key, const char *value) {
    return key != nullptr && WriteProfileStringA(fonts_section, key, value) != 0;
}

int32_t fonts_profile_get_w(const char16_t *key, char16_t *buf, int32_t cap) {
    if (key == nullptr || buf == nullptr || cap <= 0) {
        return 0;
    }
    return static_cast<int32_t>(GetProfileStringW(fonts_section_w, wide(key), L"",
                                                  reinterpret_cast<wchar_t *>(buf),
                                                  static_cast<DWORD>(cap)));
}

bool fonts_profile_put_w(const char16_t *key, const char16_t *value) {
    return key != nullptr && WriteProfileStringW(fonts_section_w, wide(key),
                                                 value != nullptr ? wide(value) : nullptr) != 0;
}

void upper_case(char *text, std::size_t len) {
    CharUpperBuffA(text, static_cast<DWORD>(len));
}

// mbstowcs, as the old steps converted the profile value.
bool narrow_to_utf16(const char *text, char16_t *out, std::size_t cap) {
    const std::size_t n = std::mbstowcs(reinterpret_cast<wchar_t *>(out), text, cap);
    return n != static_cast<std::size_t>(-1) && n < cap;
}

}  // namespace razivu::platform
