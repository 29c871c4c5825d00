// Private profile files on Linux: INI text at the mapped path.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/ini.h"
#include "platform/posix/paths.h"
#include "platform/system_calls.h"

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

// Links are followed at most this deep, as the kernel does.
constexpr int max_link_depth = 40;

// The file a write of host path really changes: symbolic links followed to
// their target, also a target that does not exist yet.
std::string link_target(std::string host) {
    for (int depth = 0; depth < max_link_depth; ++depth) {
        char target[4096];
        const ssize_t n = ::readlink(host.c_str(), target, sizeof target - 1);
        if (n < 0) {
            break;  // not a link (or not there): this is the file
        }
        const std::string next(target, static_cast<std::size_t>(n));
        const std::size_t slash = host.rfind('/');
        host = next.front() == '/' || slash == std::string::npos ? next
                                                                 : host.substr(0, slash + 1) + next;
    }
    return host;
}

// Rewrites the file itself, as Windows does: what a failed write leaves is
// lost, so this serves only where no temporary file can be made.
bool write_in_place(const std::string &host, const std::string &text) {
    std::FILE *f = open_file(host.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = write_bytes(f, text.data(), text.size());
    return close_file(f) && ok;
}

// Writes a temporary file beside the real one (behind any link) and renames
// it over it, so that a reader never sees half a profile and a failed write
// loses nothing. The new file keeps the old one's mode and owner; where the
// owner cannot be kept, or the folder refuses a temporary file, the file is
// rewritten in place.
bool write_text(const std::string &path, const std::string &text) {
    if (posix::on_system_drive(path.c_str())) {
        posix::ensure_system_drive();
    }
    const std::string host = link_target(posix::host_path(path.c_str()));
    const std::string tmp = host + ".razivu-tmp";
    struct stat old {};
    const bool existed = ::stat(host.c_str(), &old) == 0;
    std::FILE *f = open_file(tmp.c_str(), "wb");
    if (f == nullptr) {
        // Only a folder that refuses new files sends the write in place: on a
        // full disk or any other failure, writing in place could lose it all.
        const int err = last_errno();
        return (err == EACCES || err == EPERM || err == EROFS) && write_in_place(host, text);
    }
    if (existed && (::fchown(::fileno(f), old.st_uid, old.st_gid) != 0 ||
                    ::fchmod(::fileno(f), old.st_mode & 07777) != 0)) {
        file_calls().close(f);
        file_calls().remove(tmp.c_str());
        return write_in_place(host, text);
    }
    bool ok = write_bytes(f, text.data(), text.size());
    ok = close_file(f) && ok;
    const FileCalls &calls = file_calls();
    if (!ok || calls.rename(tmp.c_str(), host.c_str()) != 0) {
        calls.remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file) {
    std::string text;
    if (section != nullptr && key != nullptr && file != nullptr &&
        read_text(profile_path(file), text)) {
        if (auto value = ini::lookup(text, section, key)) {
            return copy_profile_value(*value, buf, cap);
        }
    }
    return copy_profile_default(def, buf, cap);
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
