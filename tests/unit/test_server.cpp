// The server side against raw clients on 127.0.0.1: the listening socket,
// accepting, polls and reads with a time-out, and their failures.
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
using razivu::test::NetCallsGuard;
using razivu::test::pushes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

constexpr const char *trace_path = "trace.txt";
// The pushes of a listen on the unknown test service with a default port.
const std::vector<std::string> service_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A listening socket of the library, and one accepted connection from a raw
// client.
struct Served {
    uint16_t port = razivu::test::free_port();
    int32_t listening = -1;
    int client = -1;
    int32_t conn = -1;

    Served() {
        razivu::test::use_test_port(port);
        listening = COMDoMakeListenSock();
        client = razivu::test::raw_connect(port);
        conn = COMWaitForConnectingSock(listening);
        razivu::test::pop_all();
    }
    Served(const Served &) = delete;
    Served &operator=(const Served &) = delete;
    ~Served() {
        for (int32_t s : {conn, listening}) {
            if (s >= 0) {
                COMCloseSock(s);  // releases the handle also when the transport closed it
            }
        }
        if (client >= 0) {
            ::close(client);
        }
        razivu::test::pop_all();
    }
    void hang_up() {
        ::close(client);
        client = -1;
    }
};

// ---- Listening and accepting -----------------------------------------------------------

TEST(Listen, serves_a_client_on_the_default_port_when_the_service_is_unknown) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    ASSERT_GE(listening, 0);
    EXPECT_EQ(pushes(), service_warning);
    const int client = razivu::test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(listening);
    ASSERT_GE(conn, 0);
    int nodelay = 0;
    socklen_t len = sizeof nodelay;
    ::getsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_NE(nodelay, 0);

    char data[] = "r00010|";
    EXPECT_EQ(COMWriteSock(conn, data, 7, 0), 7);
    EXPECT_EQ(razivu::test::raw_recv(client, 7), "r00010|");
    razivu::test::raw_send(client, "#00004|Echo|");
    char got[12];
    EXPECT_EQ(COMReadSock(conn, got, 12, 0), 12);
    EXPECT_EQ(std::string(got, 12), "#00004|Echo|");
    EXPECT_THAT(pushes(), IsEmpty());
    ::close(client);
    EXPECT_EQ(COMCloseSock(conn), 0);
    EXPECT_EQ(COMCloseSock(listening), 0);
}

TEST(Listen, an_unknown_service_without_default_port_pushes_18) {
    COMSetServiceName(razivu::test::unknown_service);
    COMSetDefaultPort(0);
    EXPECT_EQ(COMDoMakeListenSock(), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMGetPortByName", "28 COMGetPortByName",
                                      "sys COMDoMakeListenSock", "18 COMDoMakeListenSock"));
}

TEST(Listen, the_same_port_can_be_listened_on_again_right_after_a_close) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t first = COMDoMakeListenSock();
    ASSERT_GE(first, 0);
    const int client = razivu::test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(first);
    COMCloseSock(conn);  // the server closes first: its end waits in TIME_WAIT
    ::close(client);
    COMCloseSock(first);
    const int32_t second = COMDoMakeListenSock();
    EXPECT_GE(second, 0);
    COMCloseSock(second);
}

TEST(Listen, each_failing_step_pushes_and_leaves_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
    };
    const Row rows[] = {
        {"socket",
         [] { platform::net_calls().open_tcp = [] { errno = EMFILE; return -1; }; }},
        {"setsockopt",
         [] {
             platform::net_calls().set_option = [](int32_t, platform::SocketOption, int32_t) {
                 errno = ENOPROTOOPT;
                 return -1;
             };
         }},
        {"bind", [] {}},  // a raw listener holds the port
        {"listen",
         [] {
             platform::net_calls().listen = [](int32_t, int32_t) {
                 errno = EOPNOTSUPP;
                 return -1;
             };
         }},
    };
    razivu::test::RawListener holder;
    for (const Row &row : rows) {
        NetCallsGuard guard;
        const bool bind_row = std::string(row.name) == "bind";
        razivu::test::use_test_port(bind_row ? holder.port : razivu::test::free_port());
        row.fault();
        razivu::test::pop_all();
        const int before = ::dup(0);
        ::close(before);
        EXPECT_EQ(COMDoMakeListenSock(), -1) << row.name;
        const auto records = razivu::test::pop_all();
        ASSERT_EQ(records.size(), 3u) << row.name;
        EXPECT_EQ(records[2].kind, RAZIVU_KIND_SYSTEM) << row.name;
        EXPECT_THAT(records[2].text, HasSubstr("function COMDoMakeListenSock:  ")) << row.name;
        if (bind_row) {
            EXPECT_EQ(records[2].code, EADDRINUSE);
        }
        const int after = ::dup(0);
        ::close(after);
        EXPECT_EQ(before, after) << row.name << ": a descriptor stayed open";
    }
}

TEST(Accept, a_failed_accept_pushes_and_leaves_the_listening_socket_open) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    razivu::test::pop_all();
    {
        NetCallsGuard guard;
        platform::net_calls().accept = [](int32_t) {
            errno = ECONNABORTED;
            return -1;
        };
        EXPECT_EQ(COMWaitForConnectingSock(listening), -1);
    }
    EXPECT_THAT(pushes(), ElementsAre("sys COMWaitForConnectingSock"));
    const int client = razivu::test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(listening);
    EXPECT_GE(conn, 0);
    ::close(client);
    COMCloseSock(conn);
    COMCloseSock(listening);
}

TEST(Accept, every_handle_is_valid) {
    for (int32_t s : {-1, 0, 3, 123456}) {
        EXPECT_EQ(COMisValidSock(s), 0);
    }
}

// ---- Polls --------------------------------------------------------------------------------------

TEST(Poll, a_time_out_of_0_returns_at_once_and_reads_nothing) {
    Served sv;
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(sv.conn, 0), RAZIVU_POLL_TIMEOUT);
    EXPECT_LT(seconds_since(start), 0.5);
    razivu::test::raw_send(sv.client, "abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(COMPollSock(sv.conn, 0), RAZIVU_POLL_READABLE);
    EXPECT_EQ(COMPollSock(sv.conn, 0), RAZIVU_POLL_READABLE) << "the poll consumed data";
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Poll, waits_up_to_its_seconds_for_data_and_reports_a_hang_up_as_readable) {
    Served sv;
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(sv.conn, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(seconds_since(start), 0.9);

    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sv.hang_up();
    });
    EXPECT_EQ(COMPollSock(sv.conn, 3), RAZIVU_POLL_READABLE);
    late.join();
    EXPECT_THAT(pushes(), IsEmpty());
}

void on_alarm(int) {}

TEST(Poll, an_interrupted_wait_starts_over_with_the_full_time_out) {
    Served sv;
    struct sigaction sa {};
    sa.sa_handler = on_alarm;  // no SA_RESTART: the wait is interrupted
    struct sigaction old {};
    ::sigaction(SIGALRM, &sa, &old);
    itimerval interrupt_soon{{0, 0}, {0, 300000}};
    ::setitimer(ITIMER_REAL, &interrupt_soon, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(COMPollSock(sv.conn, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(seconds_since(start), 1.2);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Poll, an_interruption_is_retried_as_often_as_it_happens) {
    Served sv;
    NetCallsGuard guard;
    static std::vector<int32_t> waits;
    waits.clear();
    platform::net_calls().wait_readable = [](int32_t, int32_t seconds) {
        waits.push_back(seconds);
        if (waits.size() < 3) {
            errno = EINTR;
            return -1;
        }
        return 1;
    };
    EXPECT_EQ(COMPollSock(sv.conn, 7), RAZIVU_POLL_READABLE);
    EXPECT_THAT(waits, ElementsAre(7, 7, 7));
}

TEST(Poll, a_failing_select_pushes_and_closes) {
    Served sv;
    NetCallsGuard guard;
    platform::net_calls().wait_readable = [](int32_t, int32_t) {
        errno = ENOMEM;
        return -1;
    };
    EXPECT_EQ(COMPollSock(sv.conn, 1), RAZIVU_POLL_FAILED);
    EXPECT_THAT(pushes(), ElementsAre("sys COMPollSock"));
    EXPECT_TRUE(razivu::transport::is_retired(sv.conn));
}

// ---- Reads with a time-out --------------------------------------------------------------------

TEST(AsyncRead, a_time_out_returns_0_and_a_later_read_still_works) {
    Served sv;
    char buf[4] = {};
    EXPECT_EQ(COMAsyncReadSock(sv.conn, buf, 4, 0), 0);
    EXPECT_THAT(pushes(), IsEmpty());
    razivu::test::raw_send(sv.client, "data");
    EXPECT_EQ(COMAsyncReadSock(sv.conn, buf, 4, 2), 4);
    EXPECT_EQ(std::string(buf, 4), "data");
}

TEST(AsyncRead, a_peer_that_closes_is_a_failure_not_a_time_out) {
    struct Row {
        const char *sent;
        const char *why;
    };
    const Row rows[] = {
        {"", "nothing arrived before the close"},
        {"ab", "part of the count arrived"},
    };
    for (const Row &row : rows) {
        Served sv;
        razivu::test::raw_send(sv.client, row.sent);
        sv.hang_up();
        char buf[8] = {};
        EXPECT_EQ(COMAsyncReadSock(sv.conn, buf, 8, 2), -1) << row.why;
        EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock", "53 COMAsyncReadSock")) << row.why;
        EXPECT_TRUE(razivu::transport::is_retired(sv.conn)) << row.why;
    }
}

TEST(AsyncRead, a_failing_read_pushes_53_after_the_system_error) {
    Served sv;
    razivu::test::raw_send(sv.client, "x");
    NetCallsGuard guard;
    platform::net_calls().recv = [](int32_t, char *, int32_t, int32_t) {
        errno = ECONNRESET;
        return -1;
    };
    char buf[4];
    EXPECT_EQ(COMAsyncReadSock(sv.conn, buf, 4, 1), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMReadSock", "53 COMAsyncReadSock"));
}

TEST(ReceiveWithTimeout, waits_30_seconds_and_traces_its_dump_also_after_a_time_out) {
    Served sv;
    NetCallsGuard guard;
    static int32_t waited = -1;
    platform::net_calls().wait_readable = [](int32_t, int32_t seconds) {
        waited = seconds;
        return 0;
    };
    char buf[8] = "old";
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReceiveWithTimeout(sv.conn, buf, 7), 0);
    platform::reset_net_calls();
    razivu::test::raw_send(sv.client, "r00010|");
    EXPECT_EQ(COMReceiveWithTimeout(sv.conn, buf, 7), 7);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(waited, 30);
    const std::string trace = razivu::test::read_file(trace_path);
    EXPECT_THAT(trace, HasSubstr("DEBUG: (COMReceive) buffer <old>\n"));
    EXPECT_THAT(trace, HasSubstr("< Bytes: 7\n"));
    EXPECT_THAT(trace, HasSubstr("DEBUG: (COMReceive) buffer <r00010|>\n"));
}

}  // namespace
