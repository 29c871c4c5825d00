// System queries as callers see them: drive roots and the free-space
// arithmetic (the refusals are the plain-C test's, which runs on Windows too).
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/sysquery_internal.h"

namespace {

using razivu::platform::disk_space;

constexpr int32_t untouched = 77;
constexpr uint32_t most_units = std::numeric_limits<uint32_t>::max();

const struct {
    const char *name;
    int32_t (*query)(const char *, int32_t *);
} drive_queries[] = {
    {"IsFixedDrive", IsFixedDrive}, {"IsRemoteDrive", IsRemoteDrive},
    {"IsCDROMDrive", IsCDROMDrive}, {"IsRemovableDrive", IsRemovableDrive},
};

// Only the first three characters count: C always exists and is fixed only;
// Q has no folder behind it, so it is no drive and has no free space.
TEST(SystemQueries, the_system_drive_is_fixed_only_and_a_letter_without_a_folder_no_drive) {
    const struct { const char *path; int32_t fixed, free_status; } cases[] = {
        {"C:\\", 1, RAZIVU_STATUS_OK},         {"C:", 1, RAZIVU_STATUS_OK},
        {"c:\\", 1, RAZIVU_STATUS_OK},         {"C:\\no\\such\\folder", 1, RAZIVU_STATUS_OK},
        {"C:\\WINDOWS", 1, RAZIVU_STATUS_OK},  {"Q:\\", 0, RAZIVU_STATUS_NO_FREE_SPACE},
        {"q:", 0, RAZIVU_STATUS_NO_FREE_SPACE}, {"Q:\\WINDOWS", 0, RAZIVU_STATUS_NO_FREE_SPACE},
    };
    for (const auto &c : cases) {
        for (const auto &q : drive_queries) {
            int32_t flag = untouched;
            EXPECT_EQ(q.query(c.path, &flag), RAZIVU_STATUS_OK) << q.name << " " << c.path;
            EXPECT_EQ(flag, q.query == IsFixedDrive ? c.fixed : 0) << q.name << " " << c.path;
        }
        uint32_t free_kb = c.fixed == 1 ? 0 : untouched;
        EXPECT_EQ(GetDiskFreeKB(c.path, &free_kb), c.free_status) << c.path;
        EXPECT_EQ(free_kb > 0, c.fixed == 1) << c.path;
    }
    uint32_t free_kb = untouched;
    EXPECT_EQ(GetDiskFreeKB("\\\\nowhere\\share", &free_kb), RAZIVU_STATUS_NO_FREE_SPACE);
    EXPECT_EQ(free_kb, 0u);
}

TEST(DiskFree, counts_units_of_1000_bytes_and_never_wraps) {
    const uint64_t u64_max = std::numeric_limits<uint64_t>::max();
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

}  // namespace
