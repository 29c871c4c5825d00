// Private profile files on Linux: INI text at the mapped path.
#include "standins/profile.h"

#include <cerrno>

#include "platform/file_calls.h"
#include "standins/files.h"
#include "standins/ini.h"
#include "standins/paths.h"

namespace razivu::standins {
namespace {

// Profile files larger than this are not profile files: they read as
// missing and are never written. WIN.INI of a long-used system may hold tens
// of thousands of font entries.
constexpr std::size_t max_profile_bytes = 64UL * 1024 * 1024;
// A profile the write creates: everyone's to read and write, less the umask,
// as the C library's fopen makes it.
constexpr mode_t new_file_mode = 0666;
// What a new profile takes of the old one's mode: set-id and sticky bits have
// no business on a text file.
constexpr mode_t kept_mode_bits = 0777;

platform::FileCalls &fs() {
    return platform::file_calls();
}

std::string mapped(const std::string &path) {
    if (on_system_drive(path.c_str())) {
        ensure_system_drive();
    }
    return host_path(path.c_str());
}

// The profile as it stands: its text and, when it exists, its status. A link
// at its name, a FIFO or any other file that is not regular, and a file that
// cannot be read whole, are failed: none of them is ever written back.
ReadResult read_profile(const std::string &host, std::string &text_out, struct stat &st_out) {
    const int fd = open_regular(host, false);
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    }
    const bool whole = fs().stat_fd(fd, &st_out) == 0 && read_rest(fd, max_profile_bytes, text_out);
    fs().close_fd(fd);
    return whole ? ReadResult::ok : ReadResult::failed;
}

// Writes the text to a new file beside the profile and renames it over it,
// so that a reader never sees half a profile and a failed write loses
// nothing. The new file takes the old one's mode and, where the system lets
// the writer give it away, its owner: both from the regular file that was
// read, set on the new file's own descriptor.
bool write_text(const std::string &host, const std::string &text, const struct stat *old) {
    std::string tmp;
    const int fd = create_beside(host, old != nullptr ? 0600 : new_file_mode, tmp);
    if (fd < 0) {
        return false;
    }
    if (old != nullptr) {
        (void)fs().chown_fd(fd, old->st_uid, old->st_gid);  // refused unless root: the writer's
        if (fs().chmod_fd(fd, old->st_mode & kept_mode_bits) != 0) {
            fs().close_fd(fd);
            fs().unlink_host(tmp.c_str());
            return false;
        }
    }
    return commit_beside(fd, tmp, host, text);
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

// Held from the read to the rename, the lock makes concurrent writers of one
// profile take turns, so that none loses another's change.
bool profile_write(const std::string &path, const char *section, const char *key,
                   const char *value) {
    const std::string host = mapped(path);
    const bool deleting = key == nullptr || value == nullptr;
    const FileLock lock(host);
    if (!lock.held()) {
        return deleting && errno == ENOENT;  // no folder: nothing to delete
    }
    std::string text;
    struct stat old {};
    const ReadResult read = read_profile(host, text, old);
    if (read == ReadResult::failed) {
        return false;
    }
    if (read == ReadResult::missing && deleting) {
        return true;
    }
    const auto updated = ini::update(text, section, key, value);
    return updated && write_text(host, *updated, read == ReadResult::ok ? &old : nullptr);
}

}  // namespace razivu::standins
