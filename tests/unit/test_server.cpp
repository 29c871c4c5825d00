// The server side on 127.0.0.1: the listening socket, accepting, polls and
// reads with a time-out, and their failures.
#include <cerrno>
#include <chrono>
#include <string>
#include <sys/time.h>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "razivu/lib/transport_internal.h"
#include "support/test_env.h"

namespace {

namespace platform = razivu::platform;
namespace test = razivu::test;
using razivu::transport::is_retired;
using test::pushes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

// The pushes of a look-up of the unknown test service.
const std::vector<std::string> service_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- Listening and accepting -----------------------------------------------------------

TEST(Listen, serves_the_default_port_and_listens_on_it_again_right_after_a_close) {
    const uint16_t port = test::free_port();
    test::use_test_port(port);
    const int32_t first = COMDoMakeListenSock();
    ASSERT_GE(first, 0);
    EXPECT_EQ(pushes(), service_warning);
    const int client = test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(first);
    ASSERT_GE(conn, 0);
    int nodelay = 0;
    socklen_t len = sizeof nodelay;
    ::getsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_NE(nodelay, 0);
    EXPECT_EQ(COMCloseSock(conn), 0);  // the server closes first: its end waits in TIME_WAIT
    ::close(client);
    EXPECT_EQ(COMCloseSock(first), 0);
    const int32_t second = COMDoMakeListenSock();
    EXPECT_GE(second, 0);
    COMCloseSock(second);
}

TEST(Listen, each_failing_step_pushes_in_order_and_leaves_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
        const char *last_push;  // after the warning and the system error
    };
    const Row rows[] = {
        {"socket", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; }, nullptr},
        {"setsockopt", [] { platform::net_calls().set_option = test::fails_with<ENOPROTOOPT>; }, nullptr},
        {"bind", [] {}, nullptr},  // a raw listener holds the port
        {"listen", [] { platform::net_calls().listen = test::fails_with<EOPNOTSUPP>; }, nullptr},
        {"no port", [] { COMSetDefaultPort(0); }, "18 COMDoMakeListenSock"},
    };
    test::RawListener holder;
    for (const Row &row : rows) {
        test::NetCallsGuard guard;
        const bool bind_row = std::string(row.name) == "bind";
        test::use_test_port(bind_row ? holder.port : test::free_port());
        row.fault();
        test::pop_all();
        const int before = test::lowest_free_fd();
        EXPECT_EQ(COMDoMakeListenSock(), -1) << row.name;
        const auto records = test::pop_all();
        std::vector<std::string> expected = service_warning;
        expected.push_back("sys COMDoMakeListenSock");
        if (row.last_push != nullptr) {
            expected.push_back(row.last_push);
        }
        EXPECT_EQ(test::describe(records), expected) << row.name;
        if (bind_row && records.size() == 3) {
            EXPECT_EQ(records[2].code, EADDRINUSE);
        }
        EXPECT_EQ(test::lowest_free_fd(), before) << row.name << ": a descriptor stayed open";
    }
}

TEST(Accept, a_failed_accept_pushes_and_leaves_the_listening_socket_open) {
    const uint16_t port = test::free_port();
    test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    test::pop_all();
    {
        test::NetCallsGuard guard;
        platform::net_calls().accept = test::fails_with<ECONNABORTED>;
        EXPECT_EQ(COMWaitForConnectingSock(listening), -1);
    }
    EXPECT_THAT(pushes(), ElementsAre("sys COMWaitForConnectingSock"));
    const int client = test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(listening);
    EXPECT_GE(conn, 0);
    ::close(client);
    COMCloseSock(conn);
    COMCloseSock(listening);
}

// ---- Polls --------------------------------------------------------------------------------------

TEST(Poll, a_time_out_of_0_returns_at_once_and_reads_nothing) {
    test::Connection c;
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT);
    EXPECT_LT(seconds_since(start), 0.5);
    test::raw_send(c.server, "abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE);
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE) << "the poll consumed data";
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Poll, waits_up_to_its_seconds_for_data_and_reports_a_hang_up_as_readable) {
    test::Connection c;
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(seconds_since(start), 0.9);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.hang_up();
    });
    EXPECT_EQ(COMPollSock(c.client, 3), RAZIVU_POLL_READABLE);
    late.join();
    EXPECT_THAT(pushes(), IsEmpty());
}

void on_alarm(int) {}

TEST(Poll, an_interrupted_wait_starts_over_with_the_full_time_out) {
    test::Connection c;
    struct sigaction sa {};
    sa.sa_handler = on_alarm;  // no SA_RESTART: the wait is interrupted
    struct sigaction old {};
    ::sigaction(SIGALRM, &sa, &old);
    itimerval interrupt_soon{{0, 0}, {0, 300000}};
    ::setitimer(ITIMER_REAL, &interrupt_soon, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(seconds_since(start), 1.2);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Poll, an_interruption_is_retried_as_often_as_it_happens_and_a_failure_closes) {
    test::Connection c;
    test::NetCallsGuard guard;
    static std::vector<int32_t> waits;
    platform::net_calls().wait_readable = [](int32_t, int32_t seconds) {
        waits.push_back(seconds);
        if (waits.size() == 3) {
            return 1;  // readable at the third try; any later wait fails
        }
        errno = waits.size() < 3 ? EINTR : ENOMEM;
        return -1;
    };
    EXPECT_EQ(COMPollSock(c.client, 7), RAZIVU_POLL_READABLE);
    EXPECT_THAT(waits, ElementsAre(7, 7, 7));
    EXPECT_THAT(pushes(), IsEmpty());
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_FAILED);
    EXPECT_THAT(pushes(), ElementsAre("sys COMPollSock"));
    EXPECT_TRUE(is_retired(c.client));
}

// ---- Reads with a time-out --------------------------------------------------------------------

TEST(AsyncRead, a_time_out_returns_0_and_a_later_read_still_works) {
    test::Connection c;
    char buf[4] = {};
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 4, 0), 0);
    EXPECT_THAT(pushes(), IsEmpty());
    test::raw_send(c.server, "data");
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 4, 2), 4);
    EXPECT_EQ(std::string(buf, 4), "data");
}

TEST(AsyncRead, a_peer_that_closes_is_a_failure_not_a_time_out) {
    for (const char *sent : {"", "ab"}) {  // nothing, or part of the count, before the close
        test::Connection c;
        test::raw_send(c.server, sent);
        c.hang_up();
        char buf[8] = {};
        EXPECT_EQ(COMAsyncReadSock(c.client, buf, 8, 2), -1) << "sent '" << sent << "'";
        EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock", "53 COMAsyncReadSock")) << sent;
        EXPECT_TRUE(is_retired(c.client)) << sent;
    }
}

TEST(AsyncRead, a_failing_recv_pushes_the_system_error_then_53_and_closes) {
    test::Connection c;
    test::raw_send(c.server, "x");
    test::NetCallsGuard guard;
    platform::net_calls().recv = test::fails_with<ECONNRESET>;
    char buf[4];
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 4, 1), -1);
    const auto records = test::pop_all();
    EXPECT_THAT(test::describe(records), ElementsAre("sys COMReadSock", "53 COMAsyncReadSock"));
    EXPECT_EQ(records.at(0).code, ECONNRESET);
    EXPECT_TRUE(is_retired(c.client));
}

TEST(ReceiveWithTimeout, waits_30_seconds_and_traces_its_dump_also_after_a_time_out) {
    test::Connection c;
    test::NetCallsGuard guard;
    static int32_t waited = -1;
    platform::net_calls().wait_readable = [](int32_t, int32_t seconds) {
        waited = seconds;
        return 0;
    };
    char buf[8] = "old";
    COMSetTraceFile("trace.txt");
    EXPECT_EQ(COMReceiveWithTimeout(c.client, buf, 7), 0);
    platform::reset_net_calls();
    test::raw_send(c.server, "r00010|");
    EXPECT_EQ(COMReceiveWithTimeout(c.client, buf, 7), 7);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(waited, 30);
    const std::string trace = test::read_file("trace.txt");
    EXPECT_THAT(trace, HasSubstr("DEBUG: (COMReceive) buffer <old>\n"));
    EXPECT_THAT(trace, HasSubstr("< Bytes: 7\n"));
    EXPECT_THAT(trace, HasSubstr("DEBUG: (COMReceive) buffer <r00010|>\n"));
}

}  // namespace
