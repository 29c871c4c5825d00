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

constexpr const wchar_t *fonts_section_w = L"fonts";
// A staged copy is its owner's to read and write; the folder's rights apply.
constexpr unsigned copy_mode = 0600;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is a UTF-16 code unit");

const wchar_t *wide(const char16_t *text) {
    return reinterpret_cast<const wchar_t *>(text);
}

constexpr std::size_t copy_chunk = 64 * 1024;

// The expansion of source into out, read with LZRead, which reports no short
// input of its own: the expanded size the source announces (its length when
// not compressed) is compared with the bytes written.
bool lz_copy(const char *source, int out) {
    OFSTRUCT info{};
    const INT in = LZOpenFileA(const_cast<LPSTR>(source), &info, OF_READ);
    if (in < 0) {
        return false;
    }
    const LONG expected = LZSeek(in, 0, SEEK_END);
    bool ok = expected >= 0 && LZSeek(in, 0, SEEK_SET) == 0;
    std::string chunk(copy_chunk, '\0');
    LONG copied = 0;
    INT n = 0;
    while (ok && (n = LZRead(in, chunk.data(), static_cast<INT>(chunk.size()))) > 0) {
        ok = write_all(out, chunk.data(), static_cast<std::size_t>(n));
        copied += n;
    }
    LZClose(in);
    return ok && n == 0 && copied >= expected;
}

}  // namespace

// The target's folder is made when missing: SYSTEM below the Windows
// directory is absent from 64-bit Wine prefixes, though Windows always has
// it. Only a regular file is read: LZOpenFileA would open a device as well.
bool stage_copy(const char *source, const char *target, std::string &staged_out) {
    if (source == nullptr || target == nullptr) {
        return false;
    }
    const char *slash = std::strrchr(target, '\\');
    if (slash != nullptr && slash != target) {
        CreateDirectoryA(std::string(target, static_cast<std::size_t>(slash - target)).c_str(),
                         nullptr);
    }
    const int checked = open_regular(source, true);
    if (checked < 0) {
        return false;
    }
    file_calls().close_fd(checked);
    const int out = create_beside(target, copy_mode, staged_out);
    if (out < 0) {
        return false;
    }
    const bool copied = lz_copy(source, out);
    const bool synced = file_calls().sync_fd(out) == 0;
    if (file_calls().close_fd(out) != 0 || !synced || !copied) {
        DeleteFileA(staged_out.c_str());
        return false;
    }
    return true;
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
