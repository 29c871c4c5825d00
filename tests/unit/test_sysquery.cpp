// System queries as callers see them: argument checks, drive roots, the
// free-space arithmetic and the platform names.
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/sysquery_internal.h"

namespace {

using razivu::platform::disk_space;
using razivu::platform::os_version_info;

constexpr int32_t untouched = 77;
constexpr uint32_t most_units = std::numeric_limits<uint32_t>::max();

struct DriveQuery {
    const char *name;
    int32_t (*query)(const char *, int32_t *);
    int32_t unknown_status;
};

const std::vector<DriveQuery> drive_queries = {
    {"IsFixedDrive", IsFixedDrive, RAZIVU_STATUS_FIXED_UNKNOWN},
    {"IsRemoteDrive", IsRemoteDrive, RAZIVU_STATUS_REMOTE_UNKNOWN},
    {"IsCDROMDrive", IsCDROMDrive, RAZIVU_STATUS_CDROM_UNKNOWN},
    {"IsRemovableDrive", IsRemovableDrive, RAZIVU_STATUS_REMOVABLE_UNKNOWN},
};

TEST(DriveQueries, refuse_missing_arguments_and_paths_without_a_letter) {
    for (const auto &q : drive_queries) {
        int32_t flag = untouched;
        EXPECT_EQ(q.query(nullptr, &flag), RAZIVU_STATUS_FAILED) << q.name;
        EXPECT_EQ(q.query("C:\\", nullptr), RAZIVU_STATUS_FAILED) << q.name;
        for (const char *path : {"\\\\server\\share\\", "\\", "1:\\", "", " C:\\", "\xC4:\\"}) {
            EXPECT_EQ(q.query(path, &flag), RAZIVU_STATUS_FAILED) << q.name << " " << path;
        }
        EXPECT_EQ(flag, untouched) << q.name;
    }
}

// Drive C always exists; only IsFixedDrive may claim it, whatever follows
// the first three characters and in either spelling of the root.
TEST(DriveQueries, the_system_drive_is_fixed_and_of_no_other_type) {
    for (const char *path : {"C:\\", "C:", "c:\\", "C:\\no\\such\\folder", "C:\\WINDOWS"}) {
        for (const auto &q : drive_queries) {
            int32_t flag = untouched;
            EXPECT_EQ(q.query(path, &flag), RAZIVU_STATUS_OK) << q.name << " " << path;
            EXPECT_EQ(flag, q.query == IsFixedDrive ? 1 : 0) << q.name << " " << path;
        }
    }
}

TEST(DriveQueries, a_letter_with_nothing_behind_it_is_no_drive) {
    for (const char *path : {"Q:\\", "q:", "Q:\\WINDOWS"}) {
        for (const auto &q : drive_queries) {
            int32_t flag = untouched;
            EXPECT_EQ(q.query(path, &flag), RAZIVU_STATUS_OK) << q.name << " " << path;
            EXPECT_EQ(flag, 0) << q.name << " " << path;
        }
    }
}

TEST(DiskFree, refuses_missing_arguments) {
    uint32_t free_kb = untouched;
    EXPECT_EQ(GetDiskFreeKB(nullptr, &free_kb), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(free_kb, static_cast<uint32_t>(untouched));
    EXPECT_EQ(GetDiskFreeKB("C:\\", nullptr), RAZIVU_STATUS_FAILED);
}

TEST(DiskFree, a_missing_drive_reads_as_no_space_with_zero) {
    for (const char *path : {"Q:\\", "Q:", "\\\\nowhere\\share"}) {
        uint32_t free_kb = untouched;
        EXPECT_EQ(GetDiskFreeKB(path, &free_kb), RAZIVU_STATUS_NO_FREE_SPACE) << path;
        EXPECT_EQ(free_kb, 0u) << path;
    }
}

TEST(DiskFree, the_system_drive_has_room) {
    uint32_t free_kb = 0;
    ASSERT_EQ(GetDiskFreeKB("C:\\no\\such\\folder", &free_kb), RAZIVU_STATUS_OK);
    EXPECT_GT(free_kb, 0u);
}

TEST(DiskFree, counts_units_of_1000_bytes_and_never_wraps) {
    struct Case {
        disk_space space;
        uint32_t expected;
    };
    const uint64_t u64_max = std::numeric_limits<uint64_t>::max();
    const std::vector<Case> cases = {
        {{1, 1, 999, 999}, 0},
        {{1, 1, 1000, 1000}, 1},
        {{1, 1, 1999, 1999}, 1},
        {{8, 512, 250, 1000}, 1024},              // 1 024 000 bytes
        {{0, 512, 1000, 1000}, 0},
        {{8, 512, 1220703, 2000000}, 4999999},    // 4 999 999 488 bytes: past 32 bits
        {{1, 1000, most_units, most_units}, most_units},
        {{1, 1000, uint64_t{most_units} + 1, 0}, most_units},
        {{1, 4096, uint64_t{1} << 40, 0}, most_units},  // 4 PiB
        {{0xFFFFFFFF, 0xFFFFFFFF, u64_max, u64_max}, most_units},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(razivu::support::free_units(c.space), c.expected)
            << c.space.sectors_per_cluster << "*" << c.space.bytes_per_sector << "*"
            << c.space.free_clusters;
    }
}

TEST(DriveRoot, keeps_at_most_three_characters) {
    struct Case {
        const char *path;
        const char *root;
    };
    for (const Case &c : std::vector<Case>{{"C:\\WINDOWS\\x", "C:\\"}, {"C:\\", "C:\\"},
                                          {"C:", "C:"}, {"C", "C"}, {"", ""},
                                          {"\\\\srv\\s", "\\\\s"}}) {
        char root[razivu::support::drive_root_cap];
        std::memset(root, '#', sizeof root);
        razivu::support::drive_root(c.path, root);
        EXPECT_STREQ(root, c.root) << c.path;
    }
}

TEST(ScreenSize, refuses_missing_arguments) {
    int32_t value = untouched;
    EXPECT_EQ(GetScreenSize(nullptr, &value), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(GetScreenSize(&value, nullptr), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(value, untouched);
}

TEST(OSVersion, refuses_missing_buffers_without_writing) {
    char buf[RAZIVU_OS_VERSION_CAP] = "kept";
    EXPECT_EQ(GetOSVersion(nullptr, buf), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(GetOSVersion(buf, nullptr), RAZIVU_STATUS_FAILED);
    EXPECT_STREQ(buf, "kept");
}

// The buffers sit inside larger ones filled with a marker: nothing may be
// written past the documented sizes.
TEST(OSVersion, writes_within_the_documented_buffers) {
    constexpr std::size_t slack = 16;
    std::vector<char> version(RAZIVU_OS_VERSION_CAP + slack, '#');
    std::vector<char> platform(RAZIVU_OS_PLATFORM_CAP + slack, '#');
    ASSERT_EQ(GetOSVersion(version.data(), platform.data()), RAZIVU_STATUS_OK);
    EXPECT_LT(std::strlen(version.data()), std::size_t{RAZIVU_OS_VERSION_CAP});
    EXPECT_LT(std::strlen(platform.data()), std::size_t{RAZIVU_OS_PLATFORM_CAP});
    EXPECT_EQ(std::string(version.end() - slack, version.end()), std::string(slack, '#'));
    EXPECT_EQ(std::string(platform.end() - slack, platform.end()), std::string(slack, '#'));
    EXPECT_NE(std::strchr(version.data(), '.'), nullptr) << version.data();
}

TEST(OSVersion, names_each_platform_id) {
    struct Case {
        int32_t id;
        const char *host_name;
        const char *expected;  // nullptr: the platform buffer is left alone
    };
    const std::vector<Case> cases = {
        {0, "", "Win32s on Windows 3.1"},
        {1, "", "Windows 95"},
        {2, "ignored", "Windows NT"},
        {3, "", nullptr},
        {razivu::platform::platform_not_windows, "Linux", "Linux"},
        {razivu::platform::platform_not_windows, "", nullptr},
    };
    for (const auto &c : cases) {
        os_version_info info{};
        info.platform_id = c.id;
        std::snprintf(info.name, sizeof info.name, "%s", c.host_name);
        const char *name = razivu::support::platform_name(info);
        if (c.expected == nullptr) {
            EXPECT_EQ(name, nullptr) << c.id;
        } else {
            ASSERT_NE(name, nullptr) << c.id;
            EXPECT_STREQ(name, c.expected);
            EXPECT_LT(std::strlen(name), std::size_t{RAZIVU_OS_PLATFORM_CAP});
        }
    }
}

}  // namespace
