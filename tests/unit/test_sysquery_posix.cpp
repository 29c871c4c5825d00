// The system queries and their Linux stand-ins against the real machine: the
// registry folder, drive roots, statvfs and the free-space arithmetic, uname,
// a real X server, and the drive classification over mount tables and sysfs
// trees made by the test (the refusals are the plain-C test's).
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "razivu/razivu.h"
#include "support/sysquery_internal.h"
#include "support/test_env.h"

namespace {

using razivu::test::host;
using razivu::test::make_dirs;
using razivu::test::root;
using razivu::test::write_file;
namespace platform = razivu::platform;
namespace posix = razivu::platform::posix;

// The system's own name cannot be changed, so uname is interposed here; while
// this is set, it replaces the system's name.
const char *host_sysname = nullptr;

}  // namespace

extern "C" int uname(struct utsname *out) noexcept {
    const int rc = static_cast<int>(::syscall(SYS_uname, out));
    if (rc == 0 && host_sysname != nullptr) {
        std::snprintf(out->sysname, sizeof out->sysname, "%s", host_sysname);
    }
    return rc;
}

namespace {

TEST(Registry, the_product_key_is_a_folder_below_the_prefix_in_any_case) {
    const std::string machine = root() + "/prefix/registry/HKEY_LOCAL_MACHINE";
    EXPECT_EQ(HasProductRegistryKey(), 0);
    make_dirs(machine + "/SOFTWARE");
    write_file(machine + "/SOFTWARE/BRENVOLT", "a file is no key");
    EXPECT_EQ(HasProductRegistryKey(), 0);
    for (const char *key : {"/SOFTWARE/BRENVOLT", "/Software/Brenvolt"}) {
        std::filesystem::remove_all(machine);
        make_dirs(machine + key);
        EXPECT_EQ(HasProductRegistryKey(), 1) << key;
    }
    for (const char *key : {"SOFTWARE\\..", "..\\HKEY_LOCAL_MACHINE", "Software\\\\", "Software\\.", "Software/.."}) {
        EXPECT_FALSE(platform::registry_key_exists(key)) << key;
    }
    EXPECT_TRUE(platform::registry_key_exists("software\\"));
}

// Only the first three characters count: C always exists and is fixed only.
// No drive: a letter without a folder, or with a file, behind it. A link to
// itself exists by name but cannot be examined: its type is unknown.
TEST(DriveQueries, the_system_drive_is_fixed_only_and_a_letter_without_a_folder_is_no_drive) {
    ASSERT_EQ(::symlink(host("L:").c_str(), host("L:").c_str()), 0);
    write_file(host("F:"), "not a folder");
    const struct { const char *path; int32_t fixed; bool known = true; } cases[] = {
        {"C:\\", 1}, {"C:", 1}, {"c:\\", 1}, {"C:\\no\\such\\folder", 1}, {"C:\\WINDOWS", 1},
        {"Q:\\", 0}, {"q:", 0}, {"Q:\\WINDOWS", 0}, {"F:\\", 0},     {"L:\\", 0, false},
    };
    const std::pair<int32_t (*)(const char *, int32_t *), int32_t> queries[] = {
        {IsFixedDrive, RAZIVU_STATUS_FIXED_UNKNOWN}, {IsRemoteDrive, RAZIVU_STATUS_REMOTE_UNKNOWN},
        {IsCDROMDrive, RAZIVU_STATUS_CDROM_UNKNOWN}, {IsRemovableDrive, RAZIVU_STATUS_REMOVABLE_UNKNOWN},
    };
    for (const auto &c : cases) {
        for (const auto &[query, unknown] : queries) {
            int32_t flag = 77;
            EXPECT_EQ(query(c.path, &flag), c.known ? RAZIVU_STATUS_OK : unknown) << c.path;
            EXPECT_EQ(flag, query == IsFixedDrive ? c.fixed : 0) << c.path;
        }
        uint32_t free_kb = c.fixed == 1 ? 0 : 77;
        const int32_t status = GetDiskFreeKB(c.path, &free_kb);
        EXPECT_EQ(status, c.fixed == 1 ? RAZIVU_STATUS_OK : RAZIVU_STATUS_NO_FREE_SPACE) << c.path;
        EXPECT_EQ(free_kb > 0, c.fixed == 1) << c.path;
    }
    uint32_t free_kb = 77;
    EXPECT_EQ(GetDiskFreeKB("\\\\nowhere\\share", &free_kb), RAZIVU_STATUS_NO_FREE_SPACE);
    EXPECT_EQ(free_kb, 0u);
}

// Other processes write to the same disks meanwhile: the answer must lie
// between two statvfs readings, widened by a margin.
TEST(DiskFree, agrees_with_statvfs_of_the_same_folder) {
    constexpr uint64_t drift_units = 256 * 1000;  // 256 MB
    const auto units = [](const std::string &dir) {  // what an unprivileged caller may fill
        struct statvfs vfs{};
        EXPECT_EQ(::statvfs(dir.c_str(), &vfs), 0) << dir;
        return std::min<uint64_t>(uint64_t{vfs.f_bavail} * vfs.f_frsize / 1000, UINT32_MAX);
    };
    make_dirs(host("D:\\"));
    const std::pair<const char *, std::string> cases[] = {
        {"D:\\setup\\x", host("D:\\")}, {"c:", host("C:\\")}, {"/", "/"}};
    for (const auto &[path, folder] : cases) {
        uint32_t free_kb = 0;
        ASSERT_EQ(GetDiskFreeKB(path, &free_kb), RAZIVU_STATUS_OK) << path;
        const uint64_t before = units(folder);
        const uint64_t after = units(folder);
        EXPECT_LE(free_kb, std::max(before, after) + drift_units) << path;
        EXPECT_GE(free_kb + drift_units, std::min(before, after)) << path;
    }
}

TEST(DiskFree, counts_units_of_1000_bytes_and_never_wraps) {
    constexpr uint64_t u64_max = std::numeric_limits<uint64_t>::max();
    constexpr uint32_t most_units = std::numeric_limits<uint32_t>::max();
    using razivu::platform::disk_space;
    const struct { disk_space space; uint32_t expected; } cases[] = {
        {{1, 1, 999, 999}, 0}, {{1, 1, 1000, 1000}, 1}, {{1, 1, 1999, 1999}, 1},
        {{0, 512, 1000, 1000}, 0}, {{8, 512, 250, 1000}, 1024},  // 1 024 000 bytes
        {{8, 512, 1220703, 2000000}, 4999999},                   // 4 999 999 488 bytes: past 32 bits
        {{1, 1000, most_units, most_units}, most_units}, {{1, 1000, uint64_t{most_units} + 1, 0}, most_units},
        {{1, 4096, uint64_t{1} << 40, 0}, most_units},  // 4 PiB
        {{0xFFFFFFFF, 0xFFFFFFFF, u64_max, u64_max}, most_units},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(razivu::support::free_units(c.space), c.expected)
            << c.space.sectors_per_cluster << "*" << c.space.bytes_per_sector << "*" << c.space.free_clusters;
    }
}

// A host's own name is cut to the platform buffer, whose guard bytes survive.
TEST(OSVersion, is_the_kernel_release_and_the_system_name_cut_to_the_buffer) {
    struct utsname host_info{};
    ASSERT_EQ(::uname(&host_info), 0);
    int major = -1, minor = -1;
    ASSERT_EQ(std::sscanf(host_info.release, "%d.%d", &major, &minor), 2);
    const std::string longest(sizeof host_info.sysname - 1, 'n');
    for (const char *name : {static_cast<const char *>(nullptr), longest.c_str()}) {
        host_sysname = name;
        std::vector<char> version(RAZIVU_OS_VERSION_CAP + 1, '#'), platform_name(RAZIVU_OS_PLATFORM_CAP + 1, '#');
        ASSERT_EQ(GetOSVersion(version.data(), platform_name.data()), RAZIVU_STATUS_OK);
        host_sysname = nullptr;
        EXPECT_EQ(std::string(version.data()), std::to_string(major) + "." + std::to_string(minor));
        EXPECT_EQ(std::string(platform_name.data()),
                  std::string(name != nullptr ? name : host_info.sysname).substr(0, RAZIVU_OS_PLATFORM_CAP - 1));
        EXPECT_EQ(version.back(), '#');
        EXPECT_EQ(platform_name.back(), '#');
    }
}

TEST(KernelRelease, yields_major_and_minor_or_nothing) {
    const struct { const char *release; int32_t major, minor; } cases[] = {  // -1: refused
        {"6.18.44-fc-v1272", 6, 18}, {"5.10", 5, 10}, {"4.19-rc1", 4, 19}, {"6.2147483647", 6, INT32_MAX},
        {"6.2147483648", -1, -1}, {"99999999999.1", -1, -1}, {"6", -1, -1}, {"6.", -1, -1}, {".6", -1, -1},
        {"-6.1", -1, -1}, {"x.y", -1, -1}, {"", -1, -1},
    };
    for (const auto &c : cases) {
        int32_t major = -1, minor = -1;
        EXPECT_EQ(posix::parse_kernel_release(c.release, &major, &minor), c.major >= 0) << c.release;
        EXPECT_TRUE(major == c.major && minor == c.minor) << c.release << " gave " << major << "." << minor;
    }
    EXPECT_FALSE(posix::parse_kernel_release(nullptr, nullptr, nullptr));
}

// A sysfs block tree of the test's own: MAJ:MIN links into a devices tree,
// partitions one level below their disk, "removable" on the disk only.
class Classification : public ::testing::Test {
protected:
    void SetUp() override {
        sys_ = root() + "/sys";
        files_ = {sys_ + "/mountinfo", sys_ + "/dev/block"};
        make_dirs(files_.block_devices);
        for (const auto &[name, dev, removable] : {std::tuple{"sda", "8:0", "0"}, {"sdb", "8:16", "1"},
                                                   {"sdb/sdb1", "8:17", nullptr}, {"sdc", "8:32", "1"},
                                                   {"sdc/sdc1", "8:33", nullptr}}) {
            add_device(name, dev, removable);
        }
        write_file(files_.mountinfo, mount_table);
    }

    // A disk when removable is given, else a partition.
    void add_device(const std::string &name, const std::string &dev, const char *removable) {
        const std::string dir = sys_ + "/devices/" + name;
        make_dirs(dir);
        write_file(dir + (removable ? "/removable" : "/partition"), std::string(removable ? removable : "1") + "\n");
        ASSERT_EQ(::symlink(dir.c_str(), (files_.block_devices + "/" + dev).c_str()), 0);
    }

    int32_t classify(uint32_t magic, const std::string &path) const {
        return posix::classify_drive(magic, path, files_);
    }

    static constexpr const char *mount_table =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "30 27 0:27 / /dev/shm rw - tmpfs tmpfs rw\n"
        "40 27 8:17 / /media/usb\\040stick rw,nosuid shared:7 - vfat /dev/sdb1 rw\n"
        "41 27 0:50 / /mnt/remote rw - fuse.sshfs me@server:/home rw\n"
        "42 27 8:33 / /mnt/ntfs rw shared:9 master:2 - fuseblk /dev/sdc1 rw\n"
        "44 27 8:0 / /mnt/disk rw - ext4 /dev/sda rw\n"
        "45 27 8:17 / /mnt/stack rw - ext4 /dev/sdb1 rw\n"
        "46 45 254:0 / /mnt/stack rw - ext4 /dev/vda rw\n"
        "48 27 8:17 / /media/a\\011b\\134c rw shared:7 master:1 - vfat /dev/sdb1 rw\n"
        "garbage line\n"
        "1 2 3:4 / /\n"
        "47 27 0:60 / /mnt/overlay rw - overlay overlay rw\n";

    std::string sys_;
    posix::system_files files_;
};

constexpr uint32_t ext4_magic = 0xEF53, vfat_magic = 0x4D44, fuse_magic = 0x65735546, tmpfs_magic = 0x01021994,
                   nfs_magic = 0x6969;

// The magic number decides network file systems and discs; the mount and
// its device decide the rest.
TEST_F(Classification, the_file_system_the_mount_and_its_device_decide_the_type) {
    const struct { uint32_t magic; const char *path; int32_t expected; } cases[] = {
        {nfs_magic, "/mnt/disk/x", platform::drive_remote},     {0x9660, "/mnt/disk/x", platform::drive_cdrom},
        {0x01021997, "/mnt/disk/x", platform::drive_remote},  // 9p, beside tmpfs's number
        {tmpfs_magic, "/mnt/disk/x", platform::drive_fixed},    {tmpfs_magic, "/dev/shm", platform::drive_fixed},
        {vfat_magic, "/media/usb stick", platform::drive_removable},
        {vfat_magic, "/media/usb stick/setup", platform::drive_removable},
        {vfat_magic, "/media/a\tb\\c/setup", platform::drive_removable},  // escaped tab and backslash
        {ext4_magic, "/media/usb stickers", platform::drive_fixed},  // not below the mount
        {fuse_magic, "/mnt/remote/projects", platform::drive_remote},
        {fuse_magic, "/mnt/ntfs/docs", platform::drive_removable},  // partition of sdc
        {fuse_magic, "/home/me", platform::drive_fixed},            // FUSE, but not remote
        {ext4_magic, "/mnt/disk", platform::drive_fixed}, {ext4_magic, "/mnt/overlay/a", platform::drive_fixed},
        {ext4_magic, "/mnt/stack/a", platform::drive_fixed},  // the upper mount counts
    };
    for (const auto &c : cases) {
        EXPECT_EQ(classify(c.magic, c.path), c.expected) << c.path << " " << std::hex << c.magic;
    }
    write_file(sys_ + "/devices/sdc/removable", "x\n");  // unreadable: fixed
    EXPECT_EQ(classify(fuse_magic, "/mnt/ntfs/docs"), platform::drive_fixed);
    files_.mountinfo = sys_ + "/missing";  // then only the magic number counts
    EXPECT_EQ(classify(vfat_magic, "/media/usb stick"), platform::drive_fixed);
    EXPECT_EQ(classify(nfs_magic, "/media/usb stick"), platform::drive_remote);
}

// Device-less mounts (btrfs, overlay) show major 0; their source names the
// block device. Any block device node of this machine serves as the source.
TEST_F(Classification, a_mount_without_a_device_is_traced_to_its_source) {
    std::string node;
    struct stat st{};
    for (const auto &entry : std::filesystem::directory_iterator("/dev")) {
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            node = entry.path();
            break;
        }
    }
    if (node.empty()) {
        GTEST_SKIP() << "no block device node in /dev";
    }
    files_.block_devices = sys_ + "/dev/real";  // so the node meets none of the fixture's numbers
    make_dirs(files_.block_devices);
    add_device("btrfs-disk", std::to_string(::major(st.st_rdev)) + ":" + std::to_string(::minor(st.st_rdev)), "1");
    write_file(files_.mountinfo, std::string(mount_table) + "50 27 0:70 / /mnt/btrfs rw - btrfs " + node + " rw\n");
    EXPECT_EQ(classify(ext4_magic, "/mnt/btrfs/home"), platform::drive_removable);
}

// Runs under xvfb-run as a test of its own (tests/CMakeLists.txt), which
// names the size of the screen it made.
TEST(ScreenSize, is_the_size_of_the_x_display) {
    const char *made = std::getenv("RAZIVU_TEST_SCREEN");
    if (made == nullptr) {
        GTEST_SKIP() << "runs under xvfb-run as screen_size.under_xvfb";
    }
    int32_t width = 0, height = 0;
    ASSERT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_OK);
    EXPECT_EQ(std::to_string(width) + "x" + std::to_string(height), made);
}

TEST(ScreenSize, without_a_display_reads_as_no_screen) {
    for (const char *value : {static_cast<const char *>(nullptr), "", ":65000"}) {  // none served
        value != nullptr ? ::setenv("DISPLAY", value, 1) : ::unsetenv("DISPLAY");
        int32_t width = 77, height = 77;
        EXPECT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_NO_SCREEN) << (value ? value : "(unset)");
        EXPECT_EQ(std::make_pair(width, height), std::make_pair(0, 0));
    }
}

}  // namespace
