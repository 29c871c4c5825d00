// Inner steps of the Linux system queries, reachable by tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace razivu::platform::posix {

// Where the drive classification reads the mount table and the block
// devices' attributes. Remote, CD-ROM and removable mounts cannot be made
// without privileges, so tests point these at trees of their own.
struct system_files {
    std::string mountinfo = "/proc/self/mountinfo";
    std::string block_devices = "/sys/dev/block";  // holds MAJ:MIN entries
};

// One line of mountinfo, with the octal escapes of the mount point undone.
struct mount_entry {
    std::string mount_point;
    std::string fs_type;  // "ext4", "fuse.sshfs", ...
    std::string source;   // "/dev/sda1", "server:/export", ...
    uint32_t major = 0;
    uint32_t minor = 0;
};

// The mount that the canonical absolute path lies on: the longest mount point
// that contains it, the last line of equals (a mount stacked over another).
// false when no line matches or the text holds no usable line.
bool find_mount(std::string_view mountinfo, std::string_view path, mount_entry *out);

// The "removable" attribute of block device major:minor below
// block_devices (a partition answers for its disk): 1, 0, or -1 when sysfs
// does not say.
int32_t removable_flag(const std::string &block_devices, uint32_t major, uint32_t minor);

// The drive type (platform drive_* number) of an existing folder at the
// canonical path, whose statfs type (cut to its 32 bits) is fs_magic.
// Never drive_no_root_dir.
int32_t classify_drive(uint32_t fs_magic, const std::string &path, const system_files &files);

// "6.18.44-fc" -> 6 and 18. false when the text does not start with
// two dot-separated numbers that fit int32_t.
bool parse_kernel_release(const char *release, int32_t *major_out, int32_t *minor_out);

}  // namespace razivu::platform::posix
