// Drive types on Linux: the folder a drive letter maps to, classified by its
// file system and, for block devices, the kernel's removable flag. The
// statfs and realpath of the folder are the system's, outside the file-call
// table.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "standins/files.h"
#include "standins/paths.h"

namespace razivu::platform::posix {
namespace {

// statfs f_type values of network file systems (linux/magic.h).
constexpr std::array<uint32_t, 10> remote_magics = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x00C36400,  // Ceph
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x73757245,  // Coda
    0x564C,      // NCP
    0x01021997,  // 9p (not tmpfs, which is 0x01021994)
};
constexpr std::array<uint32_t, 2> cdrom_magics = {
    0x9660,      // ISO 9660
    0x15013346,  // UDF
};
// FUSE serves sshfs as well as local ntfs-3g: the mount's type tells them apart.
constexpr uint32_t fuse_magic = 0x65735546;
constexpr std::array<std::string_view, 14> remote_fuse_types = {
    "fuse.sshfs",     "fuse.rclone",    "fuse.s3fs",      "fuse.gcsfuse",
    "fuse.gvfsd-fuse", "fuse.curlftpfs", "fuse.davfs",     "fuse.glusterfs",
    "fuse.ceph-fuse", "fuse.smbnetfs",  "fuse.goofys",    "fuse.blobfuse2",
    "fuse.juicefs",   "fuse.httpdirfs",
};

// Bytes of the mount table read at most; real tables are a few kilobytes.
constexpr std::size_t mountinfo_cap = 4 * 1024 * 1024;

template <typename Table, typename Value>
bool listed(const Table &table, const Value &value) {
    return std::find(table.begin(), table.end(), value) != table.end();
}

// /proc files report size 0, so they are read until end of file. A table
// that cannot be read whole reads as empty.
std::string read_whole(const std::string &path) {
    std::string text;
    if (standins::read_file(path, mountinfo_cap, text) != standins::ReadResult::ok) {
        text.clear();
    }
    return text;
}

// File systems without a device of their own (btrfs, overlay) show major 0;
// their source names the block device, if they have one.
bool device_of(const mount_entry &mount, uint32_t *major_out, uint32_t *minor_out) {
    if (mount.major != 0) {
        *major_out = mount.major;
        *minor_out = mount.minor;
        return true;
    }
    struct stat st{};
    if (mount.source.empty() || mount.source[0] != '/' ||
        file_calls().stat_host(mount.source.c_str(), &st) != 0 ||
        !S_ISBLK(st.st_mode)) {
        return false;
    }
    *major_out = ::major(st.st_rdev);
    *minor_out = ::minor(st.st_rdev);
    return true;
}

}  // namespace

// Memory file systems (tmpfs, ramfs) count as fixed, not as RAM disks: they
// are where a Linux user keeps working trees, and installation tools accept
// fixed drives only.
int32_t classify_drive(uint32_t fs_magic, const std::string &path, const system_files &files) {
    if (listed(remote_magics, fs_magic)) {
        return drive_remote;
    }
    if (listed(cdrom_magics, fs_magic)) {
        return drive_cdrom;
    }
    mount_entry mount;
    if (!find_mount(read_whole(files.mountinfo), path, &mount)) {
        return drive_fixed;
    }
    if (fs_magic == fuse_magic && listed(remote_fuse_types, std::string_view(mount.fs_type))) {
        return drive_remote;
    }
    uint32_t major = 0;
    uint32_t minor = 0;
    if (device_of(mount, &major, &minor) &&
        removable_flag(files.block_devices, major, minor) == 1) {
        return drive_removable;
    }
    return drive_fixed;
}

}  // namespace razivu::platform::posix

namespace razivu::platform {

// A missing folder is no drive at all; a folder that cannot be examined is a
// drive of unknown type.
int32_t drive_type(const char *root) {
    const char *asked = root != nullptr ? root : ".";
    if (standins::on_system_drive(asked)) {
        standins::ensure_system_drive();
    }
    const std::string host = standins::host_path(asked);
    struct stat st{};
    if (file_calls().stat_host(host.c_str(), &st) != 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? drive_no_root_dir : drive_unknown;
    }
    if (!S_ISDIR(st.st_mode)) {
        return drive_no_root_dir;
    }
    char real[PATH_MAX];
    struct statfs fs{};
    if (::realpath(host.c_str(), real) == nullptr || ::statfs(real, &fs) != 0) {
        return drive_unknown;
    }
    return posix::classify_drive(static_cast<uint32_t>(fs.f_type), real, posix::system_files{});
}

}  // namespace razivu::platform
