// The Linux stand-ins of the system queries against the real machine: the
// registry folder, statvfs, uname, a real X server, and the drive
// classification over mount tables and sysfs trees made by the test.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "razivu/razivu.h"
#include "support/test_env.h"

namespace {

using razivu::test::host;
using razivu::test::make_dirs;
using razivu::test::root;
using razivu::test::write_file;
namespace platform = razivu::platform;
namespace posix = razivu::platform::posix;

TEST(Registry, the_product_key_is_a_folder_below_the_prefix_in_any_case) {
    const std::string registry = root() + "/prefix/registry";
    const std::string machine = registry + "/HKEY_LOCAL_MACHINE";
    std::filesystem::remove_all(registry);
    EXPECT_EQ(HasProductRegistryKey(), 0);
    make_dirs(machine + "/SOFTWARE");
    EXPECT_EQ(HasProductRegistryKey(), 0);
    write_file(machine + "/SOFTWARE/BRENVOLT", "a file is no key");
    EXPECT_EQ(HasProductRegistryKey(), 0);
    for (const char *key : {"/SOFTWARE/BRENVOLT", "/Software/Brenvolt"}) {
        std::filesystem::remove_all(registry);
        make_dirs(machine + key);
        EXPECT_EQ(HasProductRegistryKey(), 1) << key;
    }
    for (const char *key : {"SOFTWARE\\..", "..\\HKEY_LOCAL_MACHINE", "Software\\\\",
                            "Software\\.", "Software/.."}) {
        EXPECT_FALSE(platform::registry_key_exists(key)) << key;
    }
    EXPECT_TRUE(platform::registry_key_exists("software\\"));
}

// A link to itself exists by name but cannot be examined: unknown type.
TEST(DriveQueries, an_unexaminable_drive_is_of_unknown_type_and_a_file_is_no_drive) {
    const std::string looped = host("L:");
    ASSERT_EQ(::symlink(looped.c_str(), looped.c_str()), 0);
    write_file(host("F:"), "not a folder");
    const std::pair<int32_t (*)(const char *, int32_t *), int32_t> queries[] = {
        {IsFixedDrive, RAZIVU_STATUS_FIXED_UNKNOWN},
        {IsRemoteDrive, RAZIVU_STATUS_REMOTE_UNKNOWN},
        {IsCDROMDrive, RAZIVU_STATUS_CDROM_UNKNOWN},
        {IsRemovableDrive, RAZIVU_STATUS_REMOVABLE_UNKNOWN},
    };
    for (const auto &[query, unknown] : queries) {
        int32_t flag = 77;
        EXPECT_EQ(query("L:\\", &flag), unknown);
        EXPECT_EQ(flag, 0);
        flag = 77;
        EXPECT_EQ(query("F:\\", &flag), RAZIVU_STATUS_OK);
        EXPECT_EQ(flag, 0);
    }
    uint32_t free_kb = 77;
    EXPECT_EQ(GetDiskFreeKB("F:", &free_kb), RAZIVU_STATUS_NO_FREE_SPACE);
    EXPECT_EQ(free_kb, 0u);
}

// Other processes write to the same disks meanwhile: the answer must lie
// between two statvfs readings, widened by a margin.
TEST(DiskFree, agrees_with_statvfs_of_the_same_folder) {
    constexpr uint64_t drift_units = 256 * 1000;  // 256 MB
    const auto units = [](const std::string &dir) {  // what an unprivileged caller may fill
        struct statvfs vfs{};
        EXPECT_EQ(::statvfs(dir.c_str(), &vfs), 0) << dir;
        return uint64_t{vfs.f_bavail} * vfs.f_frsize / 1000;
    };
    make_dirs(host("D:\\"));
    const std::pair<const char *, std::string> cases[] = {
        {"D:\\setup\\x", host("D:\\")}, {"c:", host("C:\\")}, {"/", "/"}};
    for (const auto &[path, folder] : cases) {
        uint32_t free_kb = 0;
        ASSERT_EQ(GetDiskFreeKB(path, &free_kb), RAZIVU_STATUS_OK) << path;
        const uint64_t before = units(folder);
        const uint64_t after = units(folder);
        EXPECT_LE(free_kb, std::min<uint64_t>(std::max(before, after) + drift_units, UINT32_MAX))
            << path;
        EXPECT_GE(free_kb + drift_units, std::min<uint64_t>(std::min(before, after), UINT32_MAX))
            << path;
    }
}

TEST(OSVersion, is_the_kernel_release_and_the_system_name) {
    struct utsname host_info{};
    ASSERT_EQ(::uname(&host_info), 0);
    int major = -1;
    int minor = -1;
    ASSERT_EQ(std::sscanf(host_info.release, "%d.%d", &major, &minor), 2);
    char version[RAZIVU_OS_VERSION_CAP] = "";
    char platform_name[RAZIVU_OS_PLATFORM_CAP] = "";
    ASSERT_EQ(GetOSVersion(version, platform_name), RAZIVU_STATUS_OK);
    EXPECT_EQ(std::string(version), std::to_string(major) + "." + std::to_string(minor));
    EXPECT_EQ(std::string(platform_name),
              std::string(host_info.sysname).substr(0, RAZIVU_OS_PLATFORM_CAP - 1));
}

TEST(KernelRelease, yields_major_and_minor_or_nothing) {
    const struct { const char *release; int32_t major, minor; } cases[] = {  // -1: refused
        {"6.18.44-fc-v1272", 6, 18}, {"5.10", 5, 10}, {"4.19-rc1", 4, 19},
        {"6.2147483647", 6, INT32_MAX}, {"6.2147483648", -1, -1}, {"99999999999.1", -1, -1},
        {"6", -1, -1}, {"6.", -1, -1}, {".6", -1, -1}, {"-6.1", -1, -1}, {"x.y", -1, -1},
        {"", -1, -1},
    };
    for (const auto &c : cases) {
        int32_t major = -1, minor = -1;
        EXPECT_EQ(posix::parse_kernel_release(c.release, &major, &minor), c.major >= 0)
            << c.release;
        EXPECT_TRUE(major == c.major && minor == c.minor) << c.release << " gave " << major
                                                          << "." << minor;
    }
    EXPECT_FALSE(posix::parse_kernel_release(nullptr, nullptr, nullptr));
}

// A sysfs block tree of the test's own: MAJ:MIN links into a devices tree,
// partitions one level below their disk, "removable" on the disk only.
class Classification : public ::testing::Test {
protected:
    void SetUp() override {
        sys_ = root() + "/sys";
        std::filesystem::remove_all(sys_);
        files_ = {sys_ + "/mountinfo", sys_ + "/dev/block"};
        make_dirs(files_.block_devices);
        add_device("sda", "8:0", "0");
        add_device("sdb", "8:16", "1");
        add_device("sdb/sdb1", "8:17", nullptr);
        add_device("sdc", "8:32", "1");
        add_device("sdc/sdc1", "8:33", nullptr);
        write_file(files_.mountinfo, mount_table);
    }

    // A disk when removable is given, else a partition.
    void add_device(const std::string &name, const std::string &dev, const char *removable) {
        const std::string dir = sys_ + "/devices/" + name;
        make_dirs(dir);
        write_file(dir + (removable ? "/removable" : "/partition"),
                   std::string(removable ? removable : "1") + "\n");
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
        "garbage line\n"
        "47 27 0:60 / /mnt/overlay rw - overlay overlay rw\n";

    std::string sys_;
    posix::system_files files_;
};

constexpr uint32_t ext4_magic = 0xEF53;
constexpr uint32_t vfat_magic = 0x4D44;
constexpr uint32_t fuse_magic = 0x65735546;
constexpr uint32_t tmpfs_magic = 0x01021994;
constexpr uint32_t nfs_magic = 0x6969;

TEST_F(Classification, network_file_systems_are_remote_and_discs_cdrom) {
    const std::pair<int32_t, std::vector<uint32_t>> cases[] = {
        {platform::drive_remote, {nfs_magic, 0x517B, 0xFF534D42, 0xFE534D42, 0x00C36400,
                                  0x5346414F, 0x6B414653, 0x73757245, 0x564C, 0x01021997}},
        {platform::drive_cdrom, {0x9660, 0x15013346}},
        {platform::drive_fixed, {tmpfs_magic, ext4_magic}},
    };
    for (const auto &[expected, magics] : cases) {
        for (const uint32_t magic : magics) {
            EXPECT_EQ(classify(magic, "/mnt/disk/x"), expected) << std::hex << magic;
        }
    }
}

TEST_F(Classification, the_mount_and_its_device_decide_the_rest) {
    const struct { uint32_t magic; const char *path; int32_t expected; } cases[] = {
        {vfat_magic, "/media/usb stick", platform::drive_removable},
        {vfat_magic, "/media/usb stick/setup", platform::drive_removable},
        {ext4_magic, "/media/usb stickers", platform::drive_fixed},  // not below the mount
        {fuse_magic, "/mnt/remote/projects", platform::drive_remote},
        {fuse_magic, "/mnt/ntfs/docs", platform::drive_removable},  // partition of sdc
        {fuse_magic, "/home/me", platform::drive_fixed},            // FUSE, but not remote
        {ext4_magic, "/mnt/disk", platform::drive_fixed},
        {ext4_magic, "/mnt/stack/a", platform::drive_fixed},  // the upper mount counts
        {ext4_magic, "/mnt/overlay/a", platform::drive_fixed},
        {tmpfs_magic, "/dev/shm", platform::drive_fixed},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(classify(c.magic, c.path), c.expected) << c.path;
    }
    files_.mountinfo = sys_ + "/missing";  // then only the magic number counts
    EXPECT_EQ(classify(vfat_magic, "/media/usb stick"), platform::drive_fixed);
    EXPECT_EQ(classify(nfs_magic, "/media/usb stick"), platform::drive_remote);
}

TEST_F(Classification, unreadable_removable_flags_count_as_fixed) {
    EXPECT_EQ(posix::removable_flag(files_.block_devices, 8, 16), 1);
    EXPECT_EQ(posix::removable_flag(files_.block_devices, 8, 17), 1);
    EXPECT_EQ(posix::removable_flag(files_.block_devices, 8, 0), 0);
    EXPECT_EQ(posix::removable_flag(files_.block_devices, 9, 9), -1);
    write_file(sys_ + "/devices/sda/removable", "x\n");
    EXPECT_EQ(posix::removable_flag(files_.block_devices, 8, 0), -1);
    EXPECT_EQ(classify(ext4_magic, "/mnt/disk"), platform::drive_fixed);
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
    add_device("btrfs-disk",
               std::to_string(::major(st.st_rdev)) + ":" + std::to_string(::minor(st.st_rdev)),
               "1");
    write_file(files_.mountinfo, std::string(mount_table) +
                                     "50 27 0:70 / /mnt/btrfs rw - btrfs " + node + " rw\n");
    EXPECT_EQ(classify(ext4_magic, "/mnt/btrfs/home"), platform::drive_removable);
}

TEST(MountTable, reads_escaped_paths_and_skips_optional_fields) {
    const std::string table =
        "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "40 27 8:17 / /media/a\\040b\\011c\\134d rw shared:7 master:1 - vfat /dev/x\\040y rw";
    posix::mount_entry entry;
    ASSERT_TRUE(posix::find_mount(table, "/media/a b\tc\\d/e", &entry));
    EXPECT_EQ(entry.mount_point, "/media/a b\tc\\d");
    EXPECT_EQ(entry.fs_type, "vfat");
    EXPECT_EQ(entry.source, "/dev/x y");
    EXPECT_EQ(entry.major, 8u);
    EXPECT_EQ(entry.minor, 17u);
    EXPECT_FALSE(posix::find_mount("", "/x", &entry));
    EXPECT_FALSE(posix::find_mount("1 2 3:4 / /\n", "/x", &entry));  // cut short
    EXPECT_FALSE(posix::find_mount(table, "relative/path", &entry));
}

// An Xvfb server of the test's own. With -displayfd it picks a free display
// number and writes it to the pipe once it accepts clients, so parallel tests
// never race for one. display stays empty when it did not come up.
struct Xvfb {
    static constexpr int ready_timeout_ms = 30000;

    explicit Xvfb(const char *geometry) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        const std::string fd_text = std::to_string(fds[1]);
        if ((pid = ::fork()) == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(fds[0]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", geometry,
                     "-nolisten", "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string text;  // the display number and a newline
        char c = '\0';
        pollfd p{fds[0], POLLIN, 0};
        while (pid > 0 && text.find('\n') == std::string::npos &&
               ::poll(&p, 1, ready_timeout_ms) > 0 && ::read(fds[0], &c, 1) == 1) {
            text += c;
        }
        ::close(fds[0]);
        if (text.find('\n') != std::string::npos) {
            display = ":" + std::to_string(std::atoi(text.c_str()));
        }
    }
    ~Xvfb() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    pid_t pid = -1;
    std::string display;
};

TEST(ScreenSize, is_the_size_of_the_x_display) {
    if (std::system("command -v Xvfb >/dev/null") != 0) {
        GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    }
    Xvfb server("1234x567x24");
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not come up";
    ::setenv("DISPLAY", server.display.c_str(), 1);
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_OK) << width << "x" << height;
    EXPECT_EQ(width, 1234);
    EXPECT_EQ(height, 567);
}

TEST(ScreenSize, without_a_display_reads_as_no_screen) {
    for (const char *value : {static_cast<const char *>(nullptr), "", ":65000"}) {  // none served
        value != nullptr ? ::setenv("DISPLAY", value, 1) : ::unsetenv("DISPLAY");
        int32_t width = 77;
        int32_t height = 77;
        EXPECT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_NO_SCREEN)
            << (value != nullptr ? value : "(unset)");
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}

}  // namespace
