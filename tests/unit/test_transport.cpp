// The transport on 127.0.0.1 against raw peers: look-ups and the remembered
// host, connecting, listening and accepting, exact-count reads and writes,
// polls and reads with a time-out, the double-close guard, pieces of one
// message, the pushes and trace lines each leaves, and the worked example
// decoded from the wire.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "rpc/transport_internal.h"
#include "support/memory_transport.h"
#include "support/test_env.h"

namespace {

namespace platform = razivu::platform;
namespace test = razivu::test;
namespace transport = razivu::transport;
using test::Connection;
using test::pushes;
using transport::is_retired;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// The pushes of a look-up of the unknown test service.
const Lines service_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};

int16_t net_port(uint16_t port) {
    return static_cast<int16_t>(htons(port));
}

// The trace that fn leaves in a fresh trace file.
std::string traced(const std::function<void()> &fn) {
    std::remove("trace.txt");
    COMSetTraceFile("trace.txt");
    fn();
    COMSetTraceFile(nullptr);
    return test::read_file("trace.txt");
}

bool nodelay(int fd) {
    int on = 0;
    socklen_t len = sizeof on;
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len);
    return on != 0;
}

bool readable_within(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// ---- Look-ups ----------------------------------------------------------------------------

// An unknown service falls back to the default port (every connection here
// relies on it); a known one gives its port in network order.
TEST(GetPortByName, a_known_service_gives_its_port_and_pushes_nothing) {
    if (::getservbyname("http", "tcp") == nullptr) {
        GTEST_SKIP() << "no services database (Debian package netbase)";
    }
    EXPECT_EQ(COMGetPortByName("http", "tcp"), net_port(80));
    EXPECT_EQ(PTgetservbyname("http", "tcp")->s_port, htons(80));
    EXPECT_EQ(PTgetservbyname(test::unknown_service, "tcp"), nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(GetPortByName, a_name_of_50_characters_is_not_found_rather_than_cut) {
    test::NetCallsGuard guard;
    static servent fake{};  // would answer any name it were asked for
    fake.s_port = htons(4242);
    platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
    COMSetDefaultPort(net_port(4711));
    fake.s_port = 0;
    EXPECT_EQ(COMGetPortByName("zero", "tcp"), 0) << "a found port of 0 is no cue for the default";
    EXPECT_THAT(pushes(), IsEmpty());
    fake.s_port = htons(4242);
    COMSetDefaultPort(0);
    const std::string too_long(50, 's');
    EXPECT_EQ(COMGetPortByName(too_long.c_str(), "tcp"), -1);
    const auto records = test::pop_all();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::make_pair(records[0].code, records[1].code),
              std::make_pair(ENAMETOOLONG, RAZIVU_E_NO_SERVICE_ENTRY));
    // The name lives in one buffer that never moves: a kept pointer reads the
    // name set last; one that does not fit leaves it empty and is refused.
    COMSetServiceName(std::string(30, 'a').c_str());
    const char *kept = COMGetServiceName();
    COMSetServiceName(std::string(45, 'b').c_str());
    EXPECT_EQ(kept, COMGetServiceName());
    EXPECT_EQ(std::string(kept), std::string(45, 'b'));
    COMSetServiceName(too_long.c_str());
    EXPECT_STREQ(kept, "") << "never cut into another name";
    EXPECT_EQ(COMGetPortByName(COMGetServiceName(), "tcp"), -1);
    EXPECT_EQ(test::pop_all().at(0).code, ENAMETOOLONG);
}

// Counts host look-ups, passed on to the resolver or all answered with 127.0.0.1.
struct Lookups {
    int n = 0;
    decltype(platform::NetCalls::host_address) system = nullptr;
    bool loopback = false;
};
Lookups lookups;

void count_lookups(bool loopback) {
    lookups = Lookups{0, platform::net_calls().host_address, loopback};
    platform::net_calls().host_address = [](const char *name, uint32_t *addr) {
        ++lookups.n;
        *addr = htonl(INADDR_LOOPBACK);
        return lookups.loopback ? 0 : lookups.system(name, addr);
    };
}

TEST(RememberedHost, a_found_name_is_looked_up_once_and_a_missing_one_every_time) {
    test::NetCallsGuard guard;
    count_lookups(false);
    test::use_test_port(test::free_port());  // nobody listens: the connects fail
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(lookups.n, 1) << "remembered after the look-up, even though connect failed";
    test::RawListener listener;
    test::use_test_port(listener.port);
    const int32_t s = COMConnectToServerSock("localhost", COMGetServiceName());
    EXPECT_GE(s, 0) << "the remembered address takes the new port";
    COMCloseSock(s);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    EXPECT_EQ(lookups.n, 3) << "a failed look-up is forgotten";
}

TEST(RememberedHost, a_name_of_96_characters_is_not_found_and_one_of_95_is_looked_up) {
    test::NetCallsGuard guard;
    count_lookups(true);
    test::use_test_port(test::free_port());
    const std::string longest(95, 'h');
    COMConnectToServerSock(longest.c_str(), COMGetServiceName());  // remembered
    test::pop_all();
    lookups.n = 0;
    // Cut to 95 characters, it would be the remembered name.
    EXPECT_EQ(COMConnectToServerSock((longest + "x").c_str(), COMGetServiceName()), -1);
    EXPECT_EQ(lookups.n, 0);
    EXPECT_THAT(pushes(), ElementsAre("1 COMConnectToServerSock"));
    COMConnectToServerSock(longest.c_str(), COMGetServiceName());
    EXPECT_EQ(lookups.n, 1) << "the refused name made it forget the last";
}

// ---- Connecting, listening and accepting ----------------------------------------------------

TEST(Listen, serves_a_client_on_the_default_port_survives_a_failed_accept_and_listens_again) {
    const uint16_t port = test::free_port();
    test::use_test_port(port);
    EXPECT_EQ(COMGetDefaultPort(), net_port(port));
    const int32_t listening = COMDoMakeListenSock();
    ASSERT_GE(listening, 0);
    EXPECT_EQ(pushes(), service_warning);
    {
        test::NetCallsGuard guard;
        platform::net_calls().accept = test::fails_with<ECONNABORTED>;
        EXPECT_EQ(COMWaitForConnectingSock(listening), -1);
        EXPECT_THAT(pushes(), ElementsAre("sys COMWaitForConnectingSock"));
    }
    int32_t client = -1;
    const std::string trace = traced([&] { client = COMConnectToServerSock("127.0.0.1", COMGetServiceName()); });
    const int32_t conn = COMWaitForConnectingSock(listening);
    ASSERT_GE(conn, 0) << "the listening socket stayed open";
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(client, reinterpret_cast<sockaddr *>(&local), &len), 0);
    const std::string local_port = std::to_string(ntohs(local.sin_port));
    EXPECT_THAT(trace, ::testing::ContainsRegex("connected to 127.0.0.1 on port " + local_port +
                                                " at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} [0-9]{4}\n\n"));
    EXPECT_TRUE(nodelay(conn) && nodelay(client));
    EXPECT_EQ(COMCloseSock(conn), 0);  // the server closes first: its end waits in TIME_WAIT
    EXPECT_EQ(COMCloseSock(client), 0);
    EXPECT_EQ(COMCloseSock(listening), 0);
    const int32_t again = COMDoMakeListenSock();
    EXPECT_GE(again, 0);
    COMCloseSock(again);
}

// Each row runs twice: once for the pushes, once for the trace, which prints
// and empties the stack.
TEST(Connect, failures_push_in_order_trace_and_leave_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
        Lines pushed;       // after the service warning, if warned
        bool warned;
        bool connected;     // the connect itself went through
        std::string trace;  // a part of the trace
        const char *host = "127.0.0.1";
    };
    const std::string connect = "   COMConnectToServerSock: unable to ";
    const Row rows[] = {
        {"socket fails", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; },
         {"sys COMConnectToServerSock"}, true, false, connect + "create socket\n"},
        {"getsockname fails", [] { platform::net_calls().local_endpoint = test::fails_with<ENOBUFS>; },
         {"sys COMConnectToServerSock"}, true, true, connect + "read socket address\n"},
        {"no session", [] { platform::net_calls().startup = [] { return 10091; }; }, {"28 PTWSAStartup"}, false,
         false, ""},
        {"refused", [] { COMSetDefaultPort(net_port(test::free_port())); }, {"sys COMConnectToServerSock"}, true,
         false, connect + "connect to remote 127.0.0.1\nPrint error stack:\nERR> 1, " + std::to_string(ECONNREFUSED)},
        {"no port", [] { COMSetDefaultPort(0); }, {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, true,
         false, "Warning (COMGetPortByName): Servive " + std::string(test::unknown_service) +
                    " not found in /etc/services\nPrint error stack:\nERR> 3, 28, "},
        {"port 65535 reads as not found, quietly",
         [] {
             static servent fake{};
             fake.s_port = 0xFFFF;
             platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
         },
         {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, false, false, ""},
        {"unknown host", [] {}, {"1 COMConnectToServerSock"}, false, false,
         "Warning (COMConnectToServerSock): Host no-such-host.invalid not found in /etc/hosts. \nPlease add it "
         "and try again.\nPrint error stack:\nERR> 3, 1, RazIvu function COMConnectToServerSock:  No error text "
         "available.\n",
         "no-such-host.invalid"},
    };
    test::RawListener listener;
    for (const Row &row : rows) {
        for (const bool tracing : {false, true}) {
            test::NetCallsGuard guard;
            test::use_test_port(listener.port);
            PTWSACleanup();
            test::pop_all();
            row.fault();
            const int before = test::lowest_free_fd();
            const auto connect_fails = [&] { EXPECT_EQ(COMConnectToServerSock(row.host, COMGetServiceName()), -1); };
            if (tracing) {
                EXPECT_THAT(traced(connect_fails), HasSubstr(row.trace)) << row.name;
                // A trace empties the stack: only pushes made after the last one stay.
                const bool step_traced = row.trace.rfind(connect, 0) == 0 ||
                                         row.trace.rfind("Warning (COMConnectToServerSock)", 0) == 0;
                EXPECT_EQ(pushes(), step_traced ? Lines{} : row.pushed) << row.name;
            } else {
                connect_fails();
                Lines expected = row.warned ? service_warning : Lines{};
                expected.insert(expected.end(), row.pushed.begin(), row.pushed.end());
                EXPECT_EQ(pushes(), expected) << row.name;
            }
            EXPECT_EQ(test::lowest_free_fd(), before) << row.name << ": a descriptor stayed open";
            if (row.connected) {
                ::close(listener.accept_one());
            }
        }
    }
}

TEST(Listen, each_failing_step_pushes_in_order_and_leaves_no_socket_open) {
    const std::pair<const char *, void (*)()> rows[] = {
        {"socket", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; }},
        {"setsockopt", [] { platform::net_calls().set_option = test::fails_with<ENOPROTOOPT>; }},
        {"bind", [] {}},  // a raw listener holds the port
        {"listen", [] { platform::net_calls().listen = test::fails_with<EOPNOTSUPP>; }},
        {"no port", [] { COMSetDefaultPort(0); }},
    };
    test::RawListener holder;
    for (const auto &[name, fault] : rows) {
        test::NetCallsGuard guard;
        const std::string step = name;
        test::use_test_port(step == "bind" ? holder.port : test::free_port());
        fault();
        test::pop_all();
        const int before = test::lowest_free_fd();
        EXPECT_EQ(COMDoMakeListenSock(), -1) << step;
        const auto records = test::pop_all();
        Lines expected = service_warning;
        expected.push_back("sys COMDoMakeListenSock");
        if (step == "no port") {
            expected.push_back("18 COMDoMakeListenSock");
        }
        EXPECT_EQ(test::describe(records), expected) << step;
        EXPECT_TRUE(step != "bind" || records.back().code == EADDRINUSE);
        EXPECT_EQ(test::lowest_free_fd(), before) << step << ": a descriptor stayed open";
    }
}

// ---- Reading, writing, polling and closing ------------------------------------------------

int32_t waited = -1;  // the seconds the stand-in below was asked to wait
int32_t times_out(int32_t, int32_t seconds) {
    waited = seconds;
    return 0;
}

TEST(ReadWrite, each_traces_its_count_and_buffer_with_the_stack_printed_after_each_line) {
    const std::pair<void (*)(Connection &), Lines> rows[] = {
        {[](Connection &c) {  // a peer closing mid-count: the bytes, code 11, the socket closed
             test::raw_send(c.server, "r00010|");
             c.hang_up();
             char buf[16] = {};
             EXPECT_EQ(COMReceive(c.client, buf, 10), 7);
             EXPECT_EQ(std::string(buf), "r00010|");
             EXPECT_TRUE(is_retired(c.client));
         },
         {"< Bytes: 7\nPrint error stack:\nERR> 3, 11, RazIvu function COMReadSock:  Operation failed.\n",
          "DEBUG: (COMReceive) buffer <r00010|>\n"}},
        {[](Connection &c) {  // a count of 0 returns at once
             char buf[4];
             EXPECT_EQ(COMReadSock(c.client, buf, 0, 0), 0);
         },
         {"< Bytes: 0\nPrint error stack:\nError stack printed.\n\n"}},
        {[](Connection &c) {  // the dump ends at a NUL, every byte is sent
             char data[] = {'a', 'b', '\0', 'c', 'd'};
             EXPECT_EQ(COMSend(c.client, data, 5), 5);
             EXPECT_EQ(test::raw_recv(c.server, 5), std::string(data, 5));
         },
         {"DEBUG: (COMSend) buffer <ab>\n", "> Bytes: 5\n"}},
        {[](Connection &c) {  // a receive waits 30 seconds and dumps the buffer after a time-out too
             test::NetCallsGuard guard;
             platform::net_calls().wait_readable = times_out;
             char buf[8] = "old";
             EXPECT_EQ(COMReceiveWithTimeout(c.client, buf, 7), 0);
             EXPECT_EQ(waited, 30);
         },
         {"DEBUG: (COMReceive) buffer <old>\n"}},
    };
    for (const auto &row : rows) {
        Connection c;
        const std::string trace = traced([&] { row.first(c); });
        for (const std::string &part : row.second) {
            EXPECT_THAT(trace, HasSubstr(part));
        }
    }
    char big[1500];
    std::fill(big, big + sizeof big, 'z');
    char dump[transport::dump_cap];
    EXPECT_EQ(std::string(transport::dump_text(big, 1500, dump)), std::string(999, 'z'));
    EXPECT_EQ(std::string(transport::dump_text(big, 3, dump)), "zzz");
    EXPECT_EQ(std::string(transport::dump_text(nullptr, 3, dump)), "");
    EXPECT_EQ(std::string(transport::dump_text(big, -1, dump)), "");
}

int sends = 0;  // calls of the short-sending stand-in below
int32_t sends_half(int32_t, const char *, int32_t n, int32_t) {
    ++sends;
    return n / 2;
}

// A failed read, write or poll closes the socket; bad arguments and a
// failed close of the caller's leave it as it was.
TEST(ReadWrite, failures_push_in_order_and_close_the_socket_unless_nothing_was_done_to_it) {
    struct Row {
        const char *what;
        void (*fault)(Connection &);
        int32_t (*op)(Connection &);
        int32_t rc;
        Lines pushed;
        bool closed;
    };
    static char buf[16];
    const auto no_fault = [](Connection &) {};
    const auto timed_read = [](Connection &c) { return COMAsyncReadSock(c.client, buf, 8, 1); };
    const Lines timed_read_closed = {"11 COMReadSock", "53 COMAsyncReadSock"};
    const Row rows[] = {
        {"negative count", no_fault, [](Connection &c) { return COMReadSock(c.client, buf, -1, 0); }, -1,
         {"sys COMReadSock"}, false},
        {"no buffer to read into", no_fault, [](Connection &c) { return COMReadSock(c.client, nullptr, 4, 0); }, -1,
         {"sys COMReadSock"}, false},
        {"no buffer to write", no_fault, [](Connection &c) { return COMWriteSock(c.client, nullptr, 4, 0); }, -1,
         {"sys COMWriteSock"}, false},
        {"a short send, the rest not sent", [](Connection &) { platform::net_calls().send = sends_half; },
         [](Connection &c) { return COMWriteSock(c.client, buf, 10, 0) + (sends == 1 ? 0 : 100); }, -1,
         {"sys COMWriteSock"}, true},
        {"a peer closing before a timed read", [](Connection &c) { c.hang_up(); }, timed_read, -1, timed_read_closed,
         true},
        {"a peer closing within a timed read",
         [](Connection &c) {
             test::raw_send(c.server, "ab");
             c.hang_up();
         },
         timed_read, 2, {"11 COMReadSock"}, true},  // the bytes that came are counted
        {"a failing recv",
         [](Connection &c) {
             test::raw_send(c.server, "x");
             platform::net_calls().recv = test::fails_with<ECONNRESET>;
         },
         timed_read, -1, {"sys COMReadSock", "53 COMAsyncReadSock"}, true},
        {"a failing poll", [](Connection &) { platform::net_calls().wait_readable = test::fails_with<ENOMEM>; },
         [](Connection &c) { return COMPollSock(c.client, 1); }, RAZIVU_POLL_FAILED, {"sys COMPollSock"}, true},
        {"a failing close", [](Connection &) { platform::net_calls().close = test::fails_with<EIO>; },
         [](Connection &c) { return COMCloseSock(c.client); }, -1, {"sys COMCloseSock"}, false},
    };
    for (const Row &row : rows) {
        Connection c;
        test::NetCallsGuard guard;
        row.fault(c);
        EXPECT_EQ(row.op(c), row.rc) << row.what;
        EXPECT_EQ(pushes(), row.pushed) << row.what;
        EXPECT_EQ(is_retired(c.client), row.closed) << row.what;
        EXPECT_EQ(::fcntl(c.client, F_GETFD) == -1, row.closed) << row.what;
    }
}

TEST(ReadWrite, a_peer_that_vanished_fails_the_write_without_a_signal) {
    Connection c;
    c.hang_up();
    char data[1000] = {};
    int32_t rc = 0;
    for (int i = 0; i < 50 && rc >= 0; ++i) {
        rc = COMWriteSock(c.client, data, 1000, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(rc, -1);
    const auto records = test::pop_all();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].code == EPIPE || records[0].code == ECONNRESET) << records[0].text;
}

TEST(Poll, waits_its_seconds_or_not_at_all_for_0_reads_nothing_and_takes_a_hang_up_as_readable) {
    Connection c;
    auto start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    test::raw_send(c.server, "abc");
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_READABLE);
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE) << "the poll consumed data";
    char buf[3];
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 3, 0), 3);
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 3, 0), 0) << "a time-out";
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.hang_up();
    });
    EXPECT_EQ(COMPollSock(c.client, 3), RAZIVU_POLL_READABLE);
    late.join();
    EXPECT_THAT(pushes(), IsEmpty());
}

// Interrupted waits start over with the full time-out.
TEST(Poll, an_interruption_is_retried_as_often_as_it_happens) {
    Connection c;
    test::NetCallsGuard guard;
    static std::vector<int32_t> waits;
    platform::net_calls().wait_readable = [](int32_t, int32_t seconds) {
        waits.push_back(seconds);
        errno = EINTR;
        return waits.size() < 3 ? -1 : 1;
    };
    EXPECT_EQ(COMPollSock(c.client, 7), RAZIVU_POLL_READABLE);
    EXPECT_THAT(waits, ElementsAre(7, 7, 7));
    EXPECT_THAT(pushes(), IsEmpty());
}

// Lets the transport close c's client socket itself, as after a failure.
void retire(Connection &c) {
    c.hang_up();
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);
    test::pop_all();
}

TEST(CloseSock, after_the_transport_closed_a_socket_its_reused_number_is_left_alone) {
    Connection c;
    retire(c);
    const std::string path = test::root() + "/work/unrelated.txt";
    test::write_file(path, "keep me");
    const int file = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(file, c.client) << "Linux hands out the lowest free number";
    char buf[4];
    EXPECT_EQ(COMWriteSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMPollSock(c.client, 0), -1);
    EXPECT_EQ(COMCloseSock(c.client), -1);
    for (const auto &r : test::pop_all()) {
        EXPECT_EQ(std::make_pair(r.kind, r.code), std::make_pair(RAZIVU_KIND_SYSTEM, EBADF));
    }
    char text[8] = {};
    EXPECT_EQ(::read(file, text, 7), 7) << "the unrelated file was closed or read from";
    EXPECT_FALSE(is_retired(c.client)) << "the caller's close released it";
    ::close(file);
    c.client = -1;
}

TEST(CloseSock, a_number_opened_again_is_served_normally_and_foreign_handles_are_closed) {
    Connection c;
    retire(c);
    const int32_t again = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    ASSERT_EQ(again, c.client) << "Linux hands out the lowest free number";
    const int peer = c.listener.accept_one();
    char data[] = "ok";
    EXPECT_EQ(COMWriteSock(again, data, 2, 0), 2);
    EXPECT_EQ(test::raw_recv(peer, 2), "ok");
    EXPECT_EQ(COMCloseSock(again), 0);
    EXPECT_EQ(pushes(), service_warning);
    ::close(peer);
    c.client = -1;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(COMCloseSock(fds[0]), 0) << "a handle the library never saw";
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
    ::close(fds[1]);
}

// Other code's socket that got a retired number: whoever uses it first
// decides. A read or write is the new owner's and is served; a close is the
// old caller's late one and is refused, leaving the new socket open.
TEST(CloseSock, a_retired_number_that_names_a_new_socket_goes_to_whoever_uses_it_first) {
    for (const bool close_first : {false, true}) {
        Connection c;
        retire(c);
        const int mine = test::raw_connect(c.listener.port);
        ASSERT_EQ(mine, c.client) << "Linux hands out the lowest free number";
        const int peer = c.listener.accept_one();
        if (close_first) {
            EXPECT_EQ(COMCloseSock(mine), -1);
            EXPECT_EQ(test::pop_all().at(0).code, EBADF);
            EXPECT_NE(::fcntl(mine, F_GETFD), -1) << "the new socket was closed";
        }
        char data[] = "ok";
        EXPECT_EQ(COMWriteSock(mine, data, 2, 0), 2) << close_first;
        EXPECT_EQ(test::raw_recv(peer, 2), "ok");
        EXPECT_EQ(COMCloseSock(mine), 0);
        EXPECT_THAT(pushes(), IsEmpty());
        ::close(peer);
        c.client = -1;
    }
}

TEST(Handles, a_negative_handle_fails_every_operation_at_once_with_EBADF) {
    static char buf[8];
    const std::pair<const char *, int32_t (*)()> rows[] = {
        {"COMReadSock", [] { return COMReadSock(-1, buf, 4, 0); }},
        {"COMWriteSock", [] { return COMWriteSock(-1, buf, 4, 0); }},
        {"COMWriteSock", [] { return COMSend(-1, buf, 4); }},
        {"COMReadSock", [] { return COMReceive(-1, buf, 4); }},
        {"COMCloseSock", [] { return COMCloseSock(-1); }},
        {"COMPollSock", [] { return COMPollSock(-1, 5); }},
        {"COMPollSock", [] { return COMAsyncReadSock(-1, buf, 4, 5); }},
        {"COMPollSock", [] { return COMReceiveWithTimeout(-1, buf, 4); }},
        {"COMWaitForConnectingSock", [] { return COMWaitForConnectingSock(-1); }},
        {"COMSetSockReadAhead", [] { return COMSetSockReadAhead(-1, 1); }},
        {"COMGetSockReadAhead", [] { return COMGetSockReadAhead(-1); }},
    };
    const auto start = Clock::now();
    for (const auto &[pushed, op] : rows) {
        EXPECT_EQ(op(), -1) << pushed;
        const auto records = test::pop_all();
        ASSERT_FALSE(records.empty()) << pushed;
        EXPECT_EQ(test::describe({records.front()}), Lines{std::string("sys ") + pushed});
        EXPECT_EQ(records.front().code, EBADF) << pushed;
    }
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0) << "one waited";
}

// ---- Interrupted calls -------------------------------------------------------------------

// Every other call of a stand-in fails with EINTR, as when a signal arrives.
platform::NetCalls system_calls;
bool interrupt_next = true;
bool interrupted() {
    interrupt_next = !interrupt_next;
    errno = EINTR;
    return !interrupt_next;
}

TEST(Interrupted, every_blocking_call_is_made_again_through_the_table_and_for_real) {
    {
        test::NetCallsGuard guard;
        system_calls = platform::net_calls();
        platform::NetCalls &calls = platform::net_calls();
        calls.connect = [](int32_t s, const platform::Ipv4Endpoint *to) {
            return interrupted() ? -1 : system_calls.connect(s, to);
        };
        calls.accept = [](int32_t s) { return interrupted() ? -1 : system_calls.accept(s); };
        calls.send = [](int32_t s, const char *b, int32_t n, int32_t f) {
            return interrupted() ? -1 : system_calls.send(s, b, n, f);
        };
        calls.recv = [](int32_t s, char *b, int32_t n, int32_t f) {
            return interrupted() ? -1 : system_calls.recv(s, b, n, f);
        };
        const uint16_t port = test::free_port();
        test::use_test_port(port);
        const int32_t listening = COMDoMakeListenSock();
        const int32_t client = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
        const int32_t served = COMWaitForConnectingSock(listening);
        char data[] = "r00010|";
        char got[8] = {};
        EXPECT_EQ(COMWriteSock(client, data, 7, 0), 7);
        EXPECT_EQ(COMReadSock(served, got, 7, 0), 7);
        EXPECT_STREQ(got, "r00010|");
        EXPECT_EQ(pushes(), (Lines{service_warning[0], service_warning[1], service_warning[0],
                                   service_warning[1]}));
        for (const int32_t s : {client, served, listening}) {
            EXPECT_EQ(COMCloseSock(s), 0);
        }
    }
    // A real signal whose handler does not restart calls, while a read waits.
    Connection c;
    struct sigaction quiet {};
    struct sigaction before {};
    quiet.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &quiet, &before);
    ::alarm(1);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        test::raw_send(c.server, "abc");
    });
    char buf[3];
    EXPECT_EQ(COMReadSock(c.client, buf, 3, 0), 3);
    late.join();
    ::sigaction(SIGALRM, &before, nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
    EXPECT_FALSE(is_retired(c.client));
}

TEST(ReadSock, a_0_from_the_first_recv_does_not_end_the_read) {
    Connection c;
    test::NetCallsGuard guard;
    system_calls = platform::net_calls();
    static int calls = 0;
    platform::net_calls().recv = [](int32_t s, char *b, int32_t n, int32_t f) {
        return calls++ == 0 ? 0 : system_calls.recv(s, b, n, f);
    };
    test::raw_send(c.server, "abc");
    char buf[3];
    EXPECT_EQ(COMReadSock(c.client, buf, 3, 0), 3);
    EXPECT_THAT(pushes(), IsEmpty());
}

// ---- Read-ahead --------------------------------------------------------------------------

int recvs = 0;  // calls of the counting recv below

void count_recvs() {
    system_calls = platform::net_calls();
    recvs = 0;
    platform::net_calls().recv = [](int32_t s, char *b, int32_t n, int32_t f) {
        ++recvs;
        return system_calls.recv(s, b, n, f);
    };
}

TEST(ReadAhead, one_fill_serves_the_fields_polls_see_it_and_nothing_received_is_lost) {
    Connection c;
    test::NetCallsGuard guard;
    count_recvs();
    ASSERT_EQ(COMSetSockReadAhead(c.client, 1), 0);
    test::raw_send(c.server, "r00010|i00001|3|tail");
    ASSERT_TRUE(readable_within(c.client, 1000));
    SetTransport(COMSend, COMReceive, c.client);
    int32_t code = 0;
    int32_t value = 0;
    EXPECT_EQ(UnpackReturnCode(&code), 0);
    EXPECT_EQ(COMGetSockReadAhead(c.client), 13);
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE) << "bytes read ahead are readable";
    EXPECT_EQ(UnpackInteger(&value), 0);
    EXPECT_EQ(std::make_tuple(code, value, recvs), std::make_tuple(10, 3, 1));
    ASSERT_EQ(COMSetSockReadAhead(c.client, 0), 0);
    test::raw_send(c.server, "!");
    c.hang_up();
    char rest[8] = {};
    EXPECT_EQ(COMReadSock(c.client, rest, 6, 0), 5) << "switched off, the buffer comes first";
    EXPECT_STREQ(rest, "tail!");
    EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock"));
    EXPECT_EQ(COMGetSockReadAhead(c.client), -1) << "closed, its buffer gone";
}

// RAZIVU_READAHEAD=1 switches it on for every new socket; the pieces of a long
// message then leave in one send with the final piece.
TEST(ReadAhead, the_environment_switches_it_on_and_pieces_leave_in_one_send) {
    ::setenv("RAZIVU_READAHEAD", "1", 1);
    Connection c;
    ::unsetenv("RAZIVU_READAHEAD");
    test::NetCallsGuard guard;
    sends = 0;
    system_calls = platform::net_calls();
    platform::net_calls().send = [](int32_t s, const char *b, int32_t n, int32_t f) {
        ++sends;
        return system_calls.send(s, b, n, f);
    };
    std::string piece(900, 'p');
    EXPECT_EQ(transport::send_piece(COMSend, c.client, piece.data(), 900, true), 900);
    EXPECT_EQ(transport::send_piece(COMSend, c.client, piece.data(), 900, true), 900);
    EXPECT_EQ(COMSend(c.client, piece.data(), 100), 100);
    EXPECT_EQ(sends, 1);
    EXPECT_EQ(test::raw_recv(c.server, 1900).size(), 1900u);
    count_recvs();
    test::raw_send(c.server, "abcdef");
    char buf[3];
    ASSERT_TRUE(readable_within(c.client, 1000));
    EXPECT_EQ(COMReadSock(c.client, buf, 3, 0) + COMReadSock(c.client, buf, 3, 0), 6);
    EXPECT_EQ(recvs, 1);
}

// ---- Pieces of one message -------------------------------------------------------------

// A piece with more to follow waits in the socket until something lets it go;
// a socket of the caller's own never holds one back.
TEST(Pieces, a_held_piece_leaves_with_the_final_piece_or_before_a_poll_or_a_read) {
    const std::pair<const char *, void (*)(Connection &)> rows[] = {
        {"final piece", [](Connection &c) { EXPECT_EQ(COMSend(c.client, std::string("z").data(), 1), 1); }},
        {"poll", [](Connection &c) { EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT); }},
        {"read",  // waiting for data sends what waits, as nothing else would
         [](Connection &c) {
             std::thread reader([&c] {
                 char reply;
                 EXPECT_EQ(COMReadSock(c.client, &reply, 1, 0), 1);
             });
             EXPECT_TRUE(readable_within(c.server, 100)) << "held while the read waits";
             test::raw_send(c.server, "r");
             reader.join();
         }},
    };
    std::string first(900, 'a');
    for (const auto &[what, release] : rows) {
        Connection c;
        EXPECT_EQ(transport::send_piece(COMSend, c.client, first.data(), 900, true), 900);
        EXPECT_FALSE(readable_within(c.server, 50)) << what << ": the first piece left on its own";
        release(c);
        EXPECT_TRUE(readable_within(c.server, 100)) << what;
        EXPECT_EQ(test::raw_recv(c.server, 900), first) << what;
        EXPECT_THAT(pushes(), IsEmpty());
    }
    test::RawListener listener;
    const int mine = test::raw_connect(listener.port);
    const int server = listener.accept_one();
    EXPECT_EQ(transport::send_piece(COMSend, mine, first.data(), 7, true), 7);
    EXPECT_TRUE(readable_within(server, 1000));
    ::close(server);
    ::close(mine);
}

// ---- A server decoding a call -------------------------------------------------------------

// A listening socket of the library on port, the look-up warning dropped.
int32_t listen_on(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMDoMakeListenSock();
    test::pop_all();
    return s;
}

// The worked example, Echo("abc", null, 42, 1, {0, 255}), one byte per segment.
TEST(Server, decodes_the_worked_example_from_a_client_that_sends_it_in_small_segments) {
    const std::string call = "#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|" + std::string("\0\xff|", 3);
    const uint16_t port = test::free_port();
    const int32_t listening = listen_on(port);
    ASSERT_GE(listening, 0);
    std::string reply;
    std::thread client([&] {
        const int fd = test::raw_connect(port);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (char ch : call) {
            test::raw_send(fd, std::string(1, ch));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        reply = test::raw_recv(fd, 8);  // one more than the reply: none comes
        ::close(fd);
    });
    const int32_t conn = COMWaitForConnectingSock(listening);
    SetTransport(COMSend, COMReceiveWithTimeout, conn);
    using test::Kind;
    const std::pair<Kind, std::string> fields[] = {{Kind::function, "Echo"}, {Kind::string, "abc"},
                                                   {Kind::string, "<null>"}, {Kind::integer, "42"},
                                                   {Kind::boolean, "1"},    {Kind::bytes, std::string("\0\xff", 2)}};
    for (const auto &[kind, data] : fields) {
        const test::Decoded d = test::decode_field(kind);
        EXPECT_EQ(std::make_pair(d.rc, d.data), std::make_pair(0, data));
        test::release(d);
    }
    ResetBuffer();
    PackReturnCode(10);
    SendBuffer();
    COMCloseSock(conn);
    client.join();
    EXPECT_EQ(reply, "r00010|");
    EXPECT_THAT(pushes(), IsEmpty());
    COMCloseSock(listening);
}

}  // namespace
