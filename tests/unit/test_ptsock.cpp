// The session flag and the PT wrappers: when WSAStartup and WSACleanup are
// called, what their failures leave behind, and what the wrappers answer.
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
    int startups = 0, cleanups = 0;
    int32_t startup_result = 0;  // what the next startup returns
    int32_t cleanup_error = 0;   // when non-zero, cleanup fails with this error
};
Counts counts;

// Ends any session an earlier step left, then counts from zero.
void count_session_calls() {
    PTWSACleanup();
    counts = Counts{};
    platform::NetCalls &calls = platform::net_calls();
    calls.startup = [] { return ++counts.startups, counts.startup_result; };
    calls.cleanup = [] { return ++counts.cleanups, counts.cleanup_error != 0 ? -1 : 0; };
    calls.last_error = [] { return counts.cleanup_error; };
}

TEST(Session, starts_once_retries_a_failed_start_and_always_calls_WSACleanup) {
    EXPECT_EQ(COMWSACleanup(), 0) << "the Linux stand-in fails a cleanup without a start, as WinSock does";
    NetCallsGuard guard;
    count_session_calls();
    PTWSACleanup();
    EXPECT_EQ(counts.cleanups, 1) << "called without a session too";
    counts.startup_result = 10091;
    EXPECT_EQ(PTWSAStartup(), 10091);
    EXPECT_EQ(PTWSAStartup(), 10091);
    EXPECT_THAT(pushes(), ElementsAre("28 PTWSAStartup", "28 PTWSAStartup"));
    counts.startup_result = 0;
    EXPECT_EQ(PTWSAStartup(), 0);
    EXPECT_EQ(PTWSAStartup(), 0);
    EXPECT_EQ(counts.startups, 3) << "each failed start is tried again, a good one only once";
    counts.cleanup_error = platform::net_error_in_progress;
    EXPECT_EQ(PTWSACleanup(), -1);
    PTWSAStartup();
    EXPECT_EQ(counts.startups, 3) << "a blocking call in progress keeps the session";
    counts.cleanup_error = 10093;  // any other failure ends the session
    EXPECT_EQ(PTWSACleanup(), 0);
    PTWSAStartup();
    EXPECT_EQ(counts.startups, 4);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Session, every_wrapper_starts_and_ends_a_session_of_its_own_even_when_the_start_fails) {
    const std::pair<const char *, void (*)()> rows[] = {
        {"PTgethostname", [] { char b[64]; PTgethostname(b, sizeof b); }},
        {"PTgetservbyname", [] { PTgetservbyname("http", "tcp"); }},
        {"PThtonl", [] { PThtonl(1); }}, {"PThtons", [] { PThtons(1); }},
        {"PTntohl", [] { PTntohl(1); }}, {"PTntohs", [] { PTntohs(1); }},
        {"PTWSAUnhookBlockingHook", [] { PTWSAUnhookBlockingHook(); }},
        {"COMWSAUnhookBlockingHook", [] { COMWSAUnhookBlockingHook(); }},
    };
    NetCallsGuard guard;
    for (const auto &[name, call] : rows) {
        count_session_calls();
        ASSERT_EQ(PTWSAStartup(), 0);
        call();
        EXPECT_EQ(counts.cleanups, 1) << name;
        PTWSAStartup();
        EXPECT_EQ(counts.startups, 2) << name << " left the session ended";
        PTWSACleanup();
    }
    count_session_calls();
    counts.startup_result = 10091;
    EXPECT_EQ(PThtons(0x1234), htons(0x1234)) << "the call is made all the same";
    EXPECT_THAT(pushes(), ElementsAre("28 PTWSAStartup"));
}

TEST(Wrappers, give_the_system_answers_in_network_order) {
    char ours[256] = {}, theirs[256] = {};
    ASSERT_EQ(PTgethostname(ours, sizeof ours), 0);
    ASSERT_EQ(::gethostname(theirs, sizeof theirs), 0);
    EXPECT_STREQ(ours, theirs);
    EXPECT_EQ(PTgethostname(nullptr, 10), -1);
    EXPECT_EQ(PThtonl(0x12345678u), htonl(0x12345678u));
    EXPECT_EQ(PTntohl(htonl(0xDEADBEEFu)), 0xDEADBEEFu);
    EXPECT_EQ(PTntohs(htons(0xBEEF)), 0xBEEF);
}

}  // namespace
