// Private profile files on Linux: INI text at the mapped path.
#include "standins/profile.h"

#include <cerrno>
#include <fcntl.h>

#include "platform/file_calls.h"
#include "standins/files.h"
#include "standins/ini.h"
#include "standins/paths.h"

namespace razivu::standins {
namespace {

// Profile files larger than this are not profile files; they read as missing.
constexpr std::size_t max_profile_bytes = 16UL * 1024 * 1024;
// Links are followed at most this deep, as the kernel does.
constexpr int max_link_depth = 40;
constexpr std::size_t link_cap = 4096;
// A profile the write creates: everyone's to read and write, less the umask,
// as the C library's fopen makes it.
constexpr mode_t new_file_mode = 0666;

platform::FileCalls &fs() {
    return platform::file_calls();
}

std::string mapped(const std::string &path) {
    if (on_system_drive(path.c_str())) {
        ensure_system_drive();
    }
    return host_path(path.c_str());
}

// The file a write of host path really changes: symbolic links followed to
// their target, also a target that does not exist yet.
std::string link_target(std::string host) {
    for (int depth = 0; depth < max_link_depth; ++depth) {
        char target[link_cap];
        const ssize_t n = fs().read_link(host.c_str(), target, sizeof target - 1);
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
    const int fd = fs().open_fd(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                new_file_mode);
    if (fd < 0) {
        return false;
    }
    const bool ok = write_all(fd, text);
    return fs().close_fd(fd) == 0 && ok;
}

// Writes a temporary file beside the real one (behind any link) and renames
// it over it, so that a reader never sees half a profile and a failed write
// loses nothing. The new file keeps the old one's mode and owner; where the
// owner cannot be kept, or the folder refuses a temporary file, the file is
// rewritten in place.
bool write_text(const std::string &host_file, const std::string &text) {
    const std::string host = link_target(host_file);
    struct stat old {};
    const bool existed = fs().stat_host(host.c_str(), &old) == 0;
    std::string tmp;
    const int fd = create_beside(host, new_file_mode, tmp);
    if (fd < 0) {
        // Only a folder that refuses new files sends the write in place: on a
        // full disk or any other failure, writing in place could lose it all.
        const int err = errno;
        return (err == EACCES || err == EPERM || err == EROFS) && write_in_place(host, text);
    }
    if (existed && (fs().chown_fd(fd, old.st_uid, old.st_gid) != 0 ||
                    fs().chmod_fd(fd, old.st_mode & 07777) != 0)) {
        fs().close_fd(fd);
        fs().unlink_host(tmp.c_str());
        return write_in_place(host, text);
    }
    bool ok = write_all(fd, text) && fs().sync_fd(fd) == 0;
    ok = fs().close_fd(fd) == 0 && ok;
    if (!ok || fs().rename_host(tmp.c_str(), host.c_str()) != 0) {
        fs().unlink_host(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool profile_read(const std::string &path, const char *section, const char *key,
                  std::string &value_out) {
    std::string text;
    if (read_file(host_path(path.c_str()), max_profile_bytes, text) != ReadResult::ok) {
        return false;
    }
    auto value = ini::lookup(text, section, key);
    if (value) {
        value_out = std::move(*value);
    }
    return value.has_value();
}

bool profile_write(const std::string &path, const char *section, const char *key,
                   const char *value) {
    const std::string host = mapped(path);
    std::string text;
    const ReadResult read = read_file(host, max_profile_bytes, text);
    if (read == ReadResult::failed) {
        return false;  // a file not read whole is never written back
    }
    if (read == ReadResult::missing && (key == nullptr || value == nullptr)) {
        return true;  // nothing to delete in a missing file
    }
    return write_text(host, ini::update(text, section, key, value));
}

}  // namespace razivu::standins
