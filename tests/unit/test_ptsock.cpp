// The session flag and the PT wrappers: when WSAStartup and WSACleanup are
// called, what their failures leave behind, and the byte-order wrappers.
#include <cstring>
#include <netdb.h>
#include <string>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"

namespace {

namespace platform = razivu::platform;
using razivu::test::NetCallsGuard;
using razivu::test::pushes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Calls seen by the counting stand-ins below.
struct Counts {
    int startups = 0;
    int cleanups = 0;
    int32_t startup_result = 0;  // what the next startup returns
    int32_t cleanup_error = 0;   // when non-zero, cleanup fails with this error
};
Counts counts;

// Ends any session an earlier test left, then counts from zero.
void count_session_calls() {
    PTWSACleanup();
    counts = Counts{};
    platform::NetCalls &calls = platform::net_calls();
    calls.startup = [] {
        ++counts.startups;
        return counts.startup_result;
    };
    calls.cleanup = [] {
        ++counts.cleanups;
        return counts.cleanup_error != 0 ? -1 : 0;
    };
    calls.last_error = [] { return counts.cleanup_error; };
}

TEST(Session, a_second_start_does_not_call_WSAStartup) {
    NetCallsGuard guard;
    count_session_calls();
    EXPECT_EQ(PTWSAStartup(), 0);
    EXPECT_EQ(PTWSAStartup(), 0);
    EXPECT_EQ(counts.startups, 1);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Session, a_failed_start_pushes_28_returns_the_error_and_is_tried_again) {
    NetCallsGuard guard;
    count_session_calls();
    counts.startup_result = 10091;
    EXPECT_EQ(PTWSAStartup(), 10091);
    EXPECT_EQ(PTWSAStartup(), 10091);
    EXPECT_EQ(counts.startups, 2);
    EXPECT_THAT(pushes(), ElementsAre("28 PTWSAStartup", "28 PTWSAStartup"));
    counts.startup_result = 0;
    EXPECT_EQ(PTWSAStartup(), 0);
}

TEST(Session, cleanup_without_a_session_still_calls_WSACleanup_and_returns_0) {
    // The Linux stand-in fails a cleanup without a start, as WinSock does.
    EXPECT_EQ(PTWSACleanup(), 0);
    EXPECT_EQ(COMWSACleanup(), 0);
    EXPECT_THAT(pushes(), IsEmpty());

    NetCallsGuard guard;
    count_session_calls();
    PTWSACleanup();
    EXPECT_EQ(counts.cleanups, 1);
}

TEST(Session, a_blocking_call_in_progress_keeps_the_session) {
    NetCallsGuard guard;
    count_session_calls();
    ASSERT_EQ(PTWSAStartup(), 0);
    counts.cleanup_error = platform::net_error_in_progress;
    EXPECT_EQ(PTWSACleanup(), -1);
    PTWSAStartup();
    EXPECT_EQ(counts.startups, 1) << "the flag stayed set";

    counts.cleanup_error = 10093;  // any other failure ends the session
    EXPECT_EQ(PTWSACleanup(), 0);
    PTWSAStartup();
    EXPECT_EQ(counts.startups, 2);
    EXPECT_THAT(pushes(), IsEmpty());
}

struct WrapperRow {
    const char *name;
    void (*call)();
};

TEST(Session, every_wrapper_starts_and_ends_a_session_of_its_own) {
    const WrapperRow rows[] = {
        {"PTgethostname", [] { char b[64]; PTgethostname(b, sizeof b); }},
        {"PTgetservbyname", [] { PTgetservbyname("http", "tcp"); }},
        {"PThtonl", [] { PThtonl(1); }},
        {"PThtons", [] { PThtons(1); }},
        {"PTntohl", [] { PTntohl(1); }},
        {"PTntohs", [] { PTntohs(1); }},
        {"PTWSAUnhookBlockingHook", [] { PTWSAUnhookBlockingHook(); }},
        {"COMWSAUnhookBlockingHook", [] { COMWSAUnhookBlockingHook(); }},
    };
    NetCallsGuard guard;
    for (const WrapperRow &row : rows) {
        count_session_calls();
        ASSERT_EQ(PTWSAStartup(), 0);
        row.call();
        EXPECT_EQ(counts.cleanups, 1) << row.name;
        PTWSAStartup();
        EXPECT_EQ(counts.startups, 2) << row.name << " left the session ended";
        PTWSACleanup();
    }
}

TEST(Session, a_wrapper_makes_its_call_even_when_the_start_fails) {
    NetCallsGuard guard;
    count_session_calls();
    counts.startup_result = 10091;
    EXPECT_EQ(PThtons(0x1234), htons(0x1234));
    EXPECT_THAT(pushes(), ElementsAre("28 PTWSAStartup"));
}

TEST(Wrappers, byte_order_is_the_network_order) {
    EXPECT_EQ(PThtons(0x1234), htons(0x1234));
    EXPECT_EQ(PThtonl(0x12345678u), htonl(0x12345678u));
    EXPECT_EQ(PTntohs(PThtons(0xBEEF)), 0xBEEF);
    EXPECT_EQ(PTntohl(PThtonl(0xDEADBEEFu)), 0xDEADBEEFu);
    const uint16_t probe = 1;
    uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    if (first == 1) {
        EXPECT_EQ(PThtons(0x1234), 0x3412);
    }
}

TEST(Wrappers, gethostname_gives_the_system_host_name) {
    char ours[256] = {};
    char theirs[256] = {};
    ASSERT_EQ(PTgethostname(ours, sizeof ours), 0);
    ASSERT_EQ(::gethostname(theirs, sizeof theirs), 0);
    EXPECT_STREQ(ours, theirs);
    EXPECT_EQ(PTgethostname(nullptr, 10), -1);
}

TEST(Wrappers, getservbyname_gives_the_entry_in_network_order) {
    EXPECT_EQ(PTgetservbyname(razivu::test::unknown_service, "tcp"), nullptr);
    const servent *http = PTgetservbyname("http", "tcp");
    if (http == nullptr) {
        GTEST_SKIP() << "no services database (Debian package netbase)";
    }
    EXPECT_EQ(http->s_port, htons(80));
}

TEST(Wrappers, unhook_returns_0_even_when_the_call_fails) {
    NetCallsGuard guard;
    platform::net_calls().unhook_blocking_hook = [] { return -1; };
    EXPECT_EQ(PTWSAUnhookBlockingHook(), 0);
    EXPECT_EQ(COMWSAUnhookBlockingHook(), 0);
}

}  // namespace
