// Private profile files on Linux: INI text at the mapped path.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/ini.h"
#include "platform/posix/paths.h"

namespace razivu::platform {
namespace {

// Profile files larger than this are not profile files; they read as missing.
constexpr long max_profile_bytes = 16L * 1024 * 1024;

// A name without a directory part lives in the Windows directory.
std::string profile_path(const char *file) {
    if (std::strchr(file, '\\') != nullptr || std::strchr(file, '/') != nullptr) {
        return file;
    }
    char dir[1024];
    int32_t len = windows_dir(dir, sizeof dir);
    if (len <= 0 || len >= static_cast<int32_t>(sizeof dir)) {
        return file;
    }
    return std::string(dir) + "\\" + file;
}

bool read_text(const std::string &path, std::string &out) {
    std::FILE *f = open_file(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char chunk[4096];
    std::size_t n = 0;
    bool ok = true;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        out.append(chunk, n);
        ok = static_cast<long>(out.size()) <= max_profile_bytes;
    }
    ok = ok && std::ferror(f) == 0;
    file_calls().close(f);
    return ok;
}

// Writes beside the file and renames over it, so a reader never sees half a
// profile and a failed write loses nothing.
bool write_text(const std::string &path, const std::string &text) {
    const std::string tmp = path + ".razivu-tmp";
    std::FILE *f = open_file(tmp.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = write_bytes(f, text.data(), text.size());
    ok = close_file(f) && ok;
    const FileCalls &calls = file_calls();
    if (!ok || calls.rename(tmp.c_str(), path.c_str()) != 0) {
        calls.remove(tmp.c_str());
        return false;
    }
    return true;
}

int32_t copy_out(std::string_view value, char *buf, int32_t cap) {
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    auto n = static_cast<int32_t>(value.size());
    if (n > cap - 1) {
        n = cap - 1;
    }
    std::memcpy(buf, value.data(), static_cast<std::size_t>(n));
    buf[n] = '\0';
    return n;
}

}  // namespace

int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file) {
    std::string text;
    if (section != nullptr && key != nullptr && file != nullptr &&
        read_text(profile_path(file), text)) {
        if (auto value = ini::lookup(text, section, key)) {
            return copy_out(*value, buf, cap);
        }
    }
    std::string_view fallback = def != nullptr ? def : "";
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) {
        fallback.remove_suffix(1);
    }
    return copy_out(fallback, buf, cap);
}

bool profile_put(const char *section, const char *key, const char *value, const char *file) {
    if (section == nullptr || file == nullptr) {
        return false;
    }
    const std::string path = profile_path(file);
    std::string text;
    if (!read_text(path, text)) {
        if (errno != ENOENT) {
            return false;
        }
        if (key == nullptr || value == nullptr) {
            return true;  // nothing to delete in a missing file
        }
    }
    return write_text(path, ini::update(text, section, key, value));
}

}  // namespace razivu::platform
