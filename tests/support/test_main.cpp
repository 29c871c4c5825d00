// Test entry point: gives the process a temporary tree of its own, points
// RAZIVU_PREFIX, HOME and the XDG folders into it, works inside it, and
// removes it afterwards (kept when RAZIVU_KEEP_TEST_DIRS is set).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace razivu::test {
namespace {
std::string root_dir;
}

const std::string &root() {
    return root_dir;
}

}  // namespace razivu::test

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/razivu-test.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    razivu::test::root_dir = pattern;
    const std::string &r = razivu::test::root();
    for (const char *sub : {"/prefix", "/home", "/work"}) {
        razivu::test::make_dirs(r + sub);
    }
    ::setenv("RAZIVU_PREFIX", (r + "/prefix").c_str(), 1);
    ::setenv("HOME", (r + "/home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (r + "/home/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (r + "/home/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (r + "/home/.cache").c_str(), 1);
    ::unsetenv("RAZIVU_DEBUG");
    ::unsetenv("COMLOGGING");
    if (::chdir((r + "/work").c_str()) != 0) {
        std::perror("chdir");
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    if (std::getenv("RAZIVU_KEEP_TEST_DIRS") == nullptr) {
        std::error_code ec;
        std::filesystem::remove_all(r, ec);
    }
    return rc;
}
