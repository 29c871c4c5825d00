// Test entry point: gives the process a temporary tree of its own, points
// RAZIVU_PREFIX, HOME and the XDG folders into it, works inside it, and
// removes it afterwards (kept when RAZIVU_KEEP_TEST_DIRS is set).
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "support/test_env.h"
#ifdef _WIN32
#include <winsock2.h>
#endif

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
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path dir;
    std::random_device random;
    do {
        dir = fs::temp_directory_path(ec) / ("razivu-test." + std::to_string(random()));
    } while (!ec && !fs::create_directory(dir, ec) && !ec);
    for (const char *sub : {"prefix", "home", "work"}) {
        fs::create_directory(dir / sub, ec);
    }
    if (ec) {
        std::cerr << "no temporary tree in " << dir << ": " << ec.message() << "\n";
        return 1;
    }
    razivu::test::root_dir = dir.string();
    const std::string &r = razivu::test::root();
    using razivu::test::set_env;
    set_env("RAZIVU_PREFIX", (r + "/prefix").c_str());
    set_env("HOME", (r + "/home").c_str());
    set_env("XDG_DATA_HOME", (r + "/home/.local/share").c_str());
    set_env("XDG_CONFIG_HOME", (r + "/home/.config").c_str());
    set_env("XDG_CACHE_HOME", (r + "/home/.cache").c_str());
    razivu::test::unset_env("RAZIVU_DEBUG");
    razivu::test::unset_env("COMLOGGING");
    fs::current_path(dir / "work");
#ifdef _WIN32
    // The library ends a WinSock session at every PTWSACleanup, started or
    // not: the test's own sockets live on references that outlast those ends.
    constexpr int winsock_references = 1000;
    WSADATA winsock;
    for (int i = 0; i < winsock_references; ++i) {
        WSAStartup(0x0202, &winsock);
    }
#endif
    const int rc = RUN_ALL_TESTS();
    fs::current_path(dir.parent_path(), ec);
    if (std::getenv("RAZIVU_KEEP_TEST_DIRS") == nullptr) {
        fs::remove_all(dir, ec);
    }
    return rc;
}
