// The Linux stand-ins of the system queries against the real machine: the
// registry folder, statvfs, uname, a real X server, and the drive
// classification over mount tables and sysfs trees made by the test.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "razivu/razivu.h"
#include "support/test_env.h"

extern char **environ;

namespace {

using razivu::test::host;
using razivu::test::make_dirs;
using razivu::test::root;
using razivu::test::write_file;
namespace platform = razivu::platform;
namespace posix = razivu::platform::posix;

// ---- Registry --------------------------------------------------------------

std::string machine_dir() {
    return root() + "/prefix/registry/HKEY_LOCAL_MACHINE";
}

// Every test starts without a registry.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(root() + "/prefix/registry");
    }
};

TEST_F(Registry, the_product_key_is_the_folder_below_the_prefix) {
    EXPECT_EQ(HasProductRegistryKey(), 0);
    make_dirs(machine_dir() + "/SOFTWARE");
    EXPECT_EQ(HasProductRegistryKey(), 0);
    write_file(machine_dir() + "/SOFTWARE/BRENVOLT", "a file is no key");
    EXPECT_EQ(HasProductRegistryKey(), 0);
    ASSERT_EQ(::unlink((machine_dir() + "/SOFTWARE/BRENVOLT").c_str()), 0);
    make_dirs(machine_dir() + "/SOFTWARE/BRENVOLT");
    EXPECT_EQ(HasProductRegistryKey(), 1);
}

TEST_F(Registry, key_names_match_in_any_case) {
    make_dirs(machine_dir() + "/Software/Brenvolt");
    EXPECT_EQ(HasProductRegistryKey(), 1);
}

TEST_F(Registry, parts_that_leave_the_tree_name_no_key) {
    make_dirs(machine_dir() + "/SOFTWARE");
    for (const char *key : {"SOFTWARE\\..", "..\\HKEY_LOCAL_MACHINE", "SOFTWARE\\\\",
                            "SOFTWARE\\.", "SOFTWARE/.."}) {
        EXPECT_FALSE(platform::registry_key_exists(key)) << key;
    }
    EXPECT_TRUE(platform::registry_key_exists("software\\"));
}

// ---- Drives and free space -----------------------------------------------------

TEST(DriveQueries, a_drive_that_cannot_be_examined_is_of_unknown_type) {
    // A link to itself: the folder exists by name but cannot be looked at.
    const std::string drive = host("L:");
    ::unlink(drive.c_str());
    ASSERT_EQ(::symlink(drive.c_str(), drive.c_str()), 0);
    const std::vector<std::pair<int32_t (*)(const char *, int32_t *), int32_t>> queries = {
        {IsFixedDrive, RAZIVU_STATUS_FIXED_UNKNOWN},
        {IsRemoteDrive, RAZIVU_STATUS_REMOTE_UNKNOWN},
        {IsCDROMDrive, RAZIVU_STATUS_CDROM_UNKNOWN},
        {IsRemovableDrive, RAZIVU_STATUS_REMOVABLE_UNKNOWN},
    };
    for (const auto &[query, status] : queries) {
        int32_t flag = 77;
        EXPECT_EQ(query("L:\\", &flag), status);
        EXPECT_EQ(flag, 0);
    }
}

TEST(DriveQueries, a_drive_letter_naming_a_file_is_no_drive) {
    write_file(host("F:"), "not a folder");
    int32_t flag = 77;
    EXPECT_EQ(IsFixedDrive("F:\\", &flag), RAZIVU_STATUS_OK);
    EXPECT_EQ(flag, 0);
    uint32_t free_kb = 77;
    EXPECT_EQ(GetDiskFreeKB("F:", &free_kb), RAZIVU_STATUS_NO_FREE_SPACE);
    EXPECT_EQ(free_kb, 0u);
}

// What an unprivileged caller may still fill, in units of 1000 bytes.
uint64_t statvfs_units(const std::string &dir) {
    struct statvfs vfs{};
    EXPECT_EQ(::statvfs(dir.c_str(), &vfs), 0) << dir;
    return uint64_t{vfs.f_bavail} * vfs.f_frsize / 1000;
}

// Other processes write to the same disks meanwhile: the answer must lie
// between two statvfs readings, widened by a margin.
TEST(DiskFree, agrees_with_statvfs_of_the_same_folder) {
    constexpr uint64_t drift_units = 256 * 1000;  // 256 MB
    make_dirs(host("D:\\"));
    struct Case {
        const char *path;
        std::string folder;
    };
    for (const Case &c : std::vector<Case>{{"D:\\setup\\x", host("D:\\")},
                                           {"c:", host("C:\\")},
                                           {"/", "/"}}) {
        uint32_t free_kb = 0;
        ASSERT_EQ(GetDiskFreeKB(c.path, &free_kb), RAZIVU_STATUS_OK) << c.path;
        const uint64_t before = statvfs_units(c.folder);
        const uint64_t after = statvfs_units(c.folder);
        const uint64_t low = std::min(before, after);
        const uint64_t high = std::max(before, after);
        const uint64_t expected_max = std::min<uint64_t>(high + drift_units, UINT32_MAX);
        EXPECT_LE(free_kb, expected_max) << c.path;
        EXPECT_GE(free_kb + drift_units, std::min<uint64_t>(low, UINT32_MAX)) << c.path;
    }
}

// ---- Operating-system version ------------------------------------------------

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
    struct Case {
        const char *release;
        bool ok;
        int32_t major;
        int32_t minor;
    };
    const std::vector<Case> cases = {
        {"6.18.44-fc-v1272", true, 6, 18}, {"5.10", true, 5, 10},
        {"4.19-rc1", true, 4, 19},         {"6.2147483647", true, 6, 2147483647},
        {"6.2147483648", false, 0, 0},     {"99999999999.1", false, 0, 0},
        {"6", false, 0, 0},                {"6.", false, 0, 0},
        {".6", false, 0, 0},               {"-6.1", false, 0, 0},
        {"x.y", false, 0, 0},              {"", false, 0, 0},
    };
    for (const auto &c : cases) {
        int32_t major = -1;
        int32_t minor = -1;
        EXPECT_EQ(posix::parse_kernel_release(c.release, &major, &minor), c.ok) << c.release;
        EXPECT_EQ(major, c.ok ? c.major : -1) << c.release;
        EXPECT_EQ(minor, c.ok ? c.minor : -1) << c.release;
    }
    EXPECT_FALSE(posix::parse_kernel_release(nullptr, nullptr, nullptr));
}

// ---- Drive classification over a mount table and sysfs of the test's own -------

// A sysfs block tree: MAJ:MIN links into a devices tree, partitions one
// level below their disk, "removable" on the disk only.
class Classification : public ::testing::Test {
protected:
    void SetUp() override {
        sys_ = root() + "/sys-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(sys_);
        const std::string &sys = sys_;
        files_.mountinfo = sys + "/mountinfo";
        files_.block_devices = sys + "/dev/block";
        make_dirs(files_.block_devices);
        add_disk("sda", "8:0", "0");
        add_disk("sdb", "8:16", "1");
        add_partition("sdb", "sdb1", "8:17");
        add_disk("sdc", "8:32", "1");
        add_partition("sdc", "sdc1", "8:33");
        write_file(files_.mountinfo, mount_table);
    }

    void add_disk(const std::string &name, const std::string &dev, const char *removable) {
        const std::string dir = sys_ + "/devices/" + name;
        make_dirs(dir);
        write_file(dir + "/removable", std::string(removable) + "\n");
        link(dir, dev);
    }

    void add_partition(const std::string &disk, const std::string &name, const std::string &dev) {
        const std::string dir = sys_ + "/devices/" + disk + "/" + name;
        make_dirs(dir);
        write_file(dir + "/partition", "1\n");
        link(dir, dev);
    }

    void link(const std::string &target, const std::string &dev) {
        ASSERT_EQ(::symlink(target.c_str(), (files_.block_devices + "/" + dev).c_str()), 0);
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

    std::string sys_;  // this test's tree
    posix::system_files files_;
};

constexpr uint32_t ext4_magic = 0xEF53;
constexpr uint32_t vfat_magic = 0x4D44;
constexpr uint32_t fuse_magic = 0x65735546;
constexpr uint32_t tmpfs_magic = 0x01021994;

TEST_F(Classification, network_file_systems_are_remote_and_discs_cdrom) {
    struct Case {
        uint32_t magic;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {0x6969, platform::drive_remote},     {0x517B, platform::drive_remote},
        {0xFF534D42, platform::drive_remote}, {0xFE534D42, platform::drive_remote},
        {0x00C36400, platform::drive_remote}, {0x5346414F, platform::drive_remote},
        {0x6B414653, platform::drive_remote}, {0x73757245, platform::drive_remote},
        {0x564C, platform::drive_remote},     {0x01021997, platform::drive_remote},
        {0x9660, platform::drive_cdrom},      {0x15013346, platform::drive_cdrom},
        {tmpfs_magic, platform::drive_fixed}, {ext4_magic, platform::drive_fixed},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(classify(c.magic, "/mnt/disk/x"), c.expected) << std::hex << c.magic;
    }
}

TEST_F(Classification, the_mount_and_its_device_decide_the_rest) {
    struct Case {
        uint32_t magic;
        const char *path;
        int32_t expected;
    };
    const std::vector<Case> cases = {
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
}

TEST_F(Classification, without_a_mount_table_a_local_folder_is_fixed) {
    files_.mountinfo = sys_ + "/missing";
    EXPECT_EQ(classify(vfat_magic, "/media/usb stick"), platform::drive_fixed);
    EXPECT_EQ(classify(0x6969, "/media/usb stick"), platform::drive_remote);
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
    if (DIR *dev = ::opendir("/dev")) {
        while (const dirent *e = ::readdir(dev)) {
            const std::string path = std::string("/dev/") + e->d_name;
            if (::lstat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
                node = path;
                break;
            }
        }
        ::closedir(dev);
    }
    if (node.empty()) {
        GTEST_SKIP() << "no block device node in /dev";
    }
    // A tree of its own, so that the node's numbers meet none of the fixture's.
    files_.block_devices = sys_ + "/dev/real";
    make_dirs(files_.block_devices);
    add_disk("btrfs-disk",
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

// ---- Screen size from a real X server ------------------------------------------

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) {
            old_ = old;
            had_ = true;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::string old_;
    bool had_ = false;
};

std::string find_program(const char *name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', pos), dirs.size());
        const std::string candidate = dirs.substr(pos, end - pos) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        pos = end + 1;
    }
    return {};
}

// An Xvfb server of the test's own. With -displayfd the server picks a free
// display number itself and writes it to the pipe once it accepts clients,
// so parallel tests never race for a number and nothing is polled.
class Xvfb {
public:
    static constexpr int ready_timeout_ms = 30000;

    Xvfb(const std::string &program, const char *geometry) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        const std::string fd_text = std::to_string(fds[1]);
        std::vector<std::string> args = {program,  "-displayfd", fd_text,  "-screen",
                                         "0",      geometry,     "-nolisten", "tcp"};
        std::vector<char *> argv;
        for (auto &a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (pid_ > 0) {
            display_ = read_display(fds[0]);
        }
        ::close(fds[0]);
    }

    ~Xvfb() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (::kill(pid_, SIGKILL) == 0) {
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    // The DISPLAY text, or "" when the server did not come up.
    std::string display() const {
        return display_ >= 0 ? ":" + std::to_string(display_) : std::string();
    }

private:
    static int read_display(int fd) {
        std::string text;
        char c = '\0';
        pollfd p{fd, POLLIN, 0};
        while (text.find('\n') == std::string::npos && ::poll(&p, 1, ready_timeout_ms) > 0 &&
               ::read(fd, &c, 1) == 1) {
            text += c;
        }
        return text.find('\n') == std::string::npos ? -1 : std::atoi(text.c_str());
    }

    pid_t pid_ = -1;
    int display_ = -1;
};

TEST(ScreenSize, is_the_size_of_the_x_display) {
    const std::string program = find_program("Xvfb");
    if (program.empty()) {
        GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    }
    Xvfb server(program, "1234x567x24");
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not come up";
    ScopedEnv display("DISPLAY", server.display().c_str());
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_OK) << width << "x" << height;
    EXPECT_EQ(width, 1234);
    EXPECT_EQ(height, 567);
}

TEST(ScreenSize, without_a_display_reads_as_no_screen) {
    // ":65000" names a display that no server serves.
    for (const char *value : {static_cast<const char *>(nullptr), "", ":65000"}) {
        ScopedEnv display("DISPLAY", value);
        int32_t width = 77;
        int32_t height = 77;
        EXPECT_EQ(GetScreenSize(&width, &height), RAZIVU_STATUS_NO_SCREEN)
            << (value != nullptr ? value : "(unset)");
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}

}  // namespace
