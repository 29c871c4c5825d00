// The transport on 127.0.0.1 against raw peers: look-ups and the remembered
// host, connecting, listening and accepting, exact-count reads and writes,
// polls and reads with a time-out, interrupted calls, read-ahead, the pushes
// and trace lines each leaves, and the worked example decoded from the wire
// (test_transport_posix.cpp holds what only Linux has).
#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"
#include "support/memory_transport.h"
#include "support/test_env.h"

namespace {

namespace platform = razivu::platform;
namespace test = razivu::test;
namespace transport = razivu::transport;
using test::Connection;
using test::popped_codes;
using test::pushes;
using transport::is_retired;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;
using Codes = std::vector<int32_t>;
using Clock = std::chrono::steady_clock;

// The pushes of a look-up of the unknown test service.
const Lines service_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};

int16_t net_port(uint16_t port) { return static_cast<int16_t>(htons(port)); }

// The trace that fn leaves in a fresh trace file.
std::string traced(const std::function<void()> &fn) {
    std::remove("trace.txt");
    COMSetTraceFile("trace.txt");
    fn();
    COMSetTraceFile(nullptr);
    return test::read_text("trace.txt");
}

bool nodelay(int fd) {
    int on = 0;
    socklen_t len = sizeof on;
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char *>(&on), &len);
    return on != 0;
}

// ---- Stand-ins for the socket calls ---------------------------------------------------------

// One set of stand-ins serves every test that replaces socket calls: each
// counts its calls and passes them on to the system's call, once it has
// failed `interruptions` times in a row with EINTR (as when signals arrive).
struct Fakes {
    platform::NetCalls system = platform::net_calls();  // the calls passed on to
    int interruptions = 0;                              // EINTR failures before each call goes through
    int in_a_row = 0;                                   // EINTR failures since the last call went through
    int zero_recvs = 0;                                 // first recvs that answer 0, as a closed peer would
    int32_t max_recv = INT32_MAX;                       // the most bytes one recv gives
    int recvs = 0, sends = 0, lookups = 0;              // calls so far, interrupted ones included
    std::vector<int32_t> waits;                         // the seconds each wait for data was given
    bool loopback_hosts = false;                        // every host name resolves to 127.0.0.1
    servent service{};                                  // what find_every_service finds
};
Fakes fakes;

bool interrupted() {
    const bool now = fakes.in_a_row < fakes.interruptions;
    fakes.in_a_row = now ? fakes.in_a_row + 1 : 0;
    errno = EINTR;
    return now;
}

// Once per NetCallsGuard, which puts the system's calls back.
Fakes &use_fakes() {
    fakes = Fakes{};
    platform::NetCalls &calls = platform::net_calls();
    calls.connect = [](int32_t s, const platform::Ipv4Endpoint *to) {
        return interrupted() ? -1 : fakes.system.connect(s, to);
    };
    calls.accept = [](int32_t s) { return interrupted() ? -1 : fakes.system.accept(s); };
    calls.send = [](int32_t s, const char *b, int32_t n, int32_t f) {
        return ++fakes.sends, interrupted() ? -1 : fakes.system.send(s, b, n, f);
    };
    calls.recv = [](int32_t s, char *b, int32_t n, int32_t f) {
        ++fakes.recvs;
        return interrupted()                        ? -1
               : fakes.recvs <= fakes.zero_recvs ? 0
                                                    : fakes.system.recv(s, b, std::min(n, fakes.max_recv), f);
    };
    calls.wait_readable = [](int32_t s, int32_t seconds) {
        return fakes.waits.push_back(seconds), interrupted() ? -1 : fakes.system.wait_readable(s, seconds);
    };
    calls.host_address = [](const char *name, uint32_t *addr) {
        *addr = htonl(INADDR_LOOPBACK);
        return ++fakes.lookups, fakes.loopback_hosts ? 0 : fakes.system.host_address(name, addr);
    };
    return fakes;
}

// Every service name is found, with port (network order).
void find_every_service(uint16_t port) {
    fakes.service.s_port = port;
    platform::net_calls().service_by_name = [](const char *, const char *) { return &fakes.service; };
}

// ---- Look-ups ----------------------------------------------------------------------------

// A found service gives its port in network order, even 0: only an unknown
// one falls back to the default port (every connection here relies on it).
// The name lives in one buffer that never moves: a kept pointer reads the
// name set last; one that does not fit leaves it empty and is refused.
TEST(GetPortByName, a_found_port_is_kept_and_a_name_of_50_characters_is_not_found_rather_than_cut) {
    test::NetCallsGuard guard;
    COMSetDefaultPort(net_port(4711));
    EXPECT_EQ(COMGetDefaultPort(), net_port(4711));
    find_every_service(htons(4242));
    EXPECT_EQ(COMGetPortByName("found", "tcp"), net_port(4242));
    find_every_service(0);
    EXPECT_EQ(COMGetPortByName("zero", "tcp"), 0) << "a found port of 0 is no cue for the default";
    EXPECT_EQ(COMGetPortByName("7000", "tcp"), net_port(7000)) << "a port number is no name to look up";
    EXPECT_THAT(pushes(), IsEmpty());
    for (const char *not_a_port : {"0", "65536", "007000", "70a", ""}) {
        EXPECT_EQ(COMGetPortByName(not_a_port, "tcp"), 0) << not_a_port << " is looked up as a name";
    }
    COMSetDefaultPort(0);
    const std::string too_long(50, 's');
    EXPECT_EQ(COMGetPortByName(too_long.c_str(), "tcp"), -1);
    EXPECT_EQ(popped_codes(), (Codes{ENAMETOOLONG, RAZIVU_E_NO_SERVICE_ENTRY}));
    COMSetServiceName(std::string(30, 'a').c_str());
    const char *kept = COMGetServiceName();
    COMSetServiceName(std::string(45, 'b').c_str());
    EXPECT_EQ(kept, COMGetServiceName());
    EXPECT_EQ(std::string(kept), std::string(45, 'b'));
    COMSetServiceName(too_long.c_str());
    EXPECT_STREQ(kept, "") << "never cut into another name";
    EXPECT_EQ(COMGetPortByName(COMGetServiceName(), "tcp"), -1);
    EXPECT_EQ(popped_codes().at(0), ENAMETOOLONG);
}

// A name longer than 95 characters is refused: cut, it could be the
// remembered one.
TEST(RememberedHost, a_found_name_is_looked_up_once_and_a_missing_or_refused_one_every_time) {
    test::NetCallsGuard guard;
    Fakes &f = use_fakes();
    test::use_test_port(test::free_port());  // nobody listens: the connects fail
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(f.lookups, 1) << "remembered after the look-up, even though connect failed";
    test::RawListener listener;
    test::use_test_port(listener.port);
    const int32_t s = COMConnectToServerSock("localhost", COMGetServiceName());
    EXPECT_GE(s, 0) << "the remembered address takes the new port";
    COMCloseSock(s);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    EXPECT_EQ(f.lookups, 3) << "a failed look-up is forgotten";
    f.loopback_hosts = true;
    test::use_test_port(test::free_port());
    const std::string longest(95, 'h');
    COMConnectToServerSock(longest.c_str(), COMGetServiceName());  // remembered
    test::pop_all();
    EXPECT_EQ(COMConnectToServerSock((longest + "x").c_str(), COMGetServiceName()), -1);
    EXPECT_EQ(f.lookups, 4);
    EXPECT_THAT(pushes(), ElementsAre("1 COMConnectToServerSock"));
    COMConnectToServerSock(longest.c_str(), COMGetServiceName());
    EXPECT_EQ(f.lookups, 5) << "the refused name made it forget the last";
}

// ---- Connecting, listening and accepting ----------------------------------------------------

// Every blocking call here is interrupted twice before it goes through: each
// is made again, and an interrupted wait starts over with its full time-out.
TEST(Listen, serves_a_client_through_interruptions_survives_a_failed_accept_and_listens_again) {
    test::NetCallsGuard guard;
    Fakes &f = use_fakes();
    f.interruptions = 2;
    test::use_test_port(test::free_port());
    const int32_t listening = COMDoMakeListenSock();
    ASSERT_GE(listening, 0);
    EXPECT_EQ(pushes(), service_warning);
    const auto accept = std::exchange(platform::net_calls().accept, test::fails_with<ECONNABORTED, int32_t>);
    EXPECT_EQ(COMWaitForConnectingSock(listening), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMWaitForConnectingSock"));
    platform::net_calls().accept = accept;
    int32_t client = -1;
    const std::string trace = traced([&] { client = COMConnectToServerSock("127.0.0.1", COMGetServiceName()); });
    const int32_t conn = COMWaitForConnectingSock(listening);
    ASSERT_GE(conn, 0) << "the listening socket stayed open";
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(client, reinterpret_cast<sockaddr *>(&local), &len), 0);
    const std::string local_port = std::to_string(ntohs(local.sin_port));
    const std::regex connected("connected to 127.0.0.1 on port " + local_port +
                               " at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} [0-9]{4}\n\n");
    EXPECT_TRUE(std::regex_search(trace, connected)) << trace;  // GoogleTest has only a simple regex on Windows
    EXPECT_TRUE(nodelay(conn) && nodelay(client));
    char data[] = "r00010|";
    char got[8] = {};
    EXPECT_EQ(COMWriteSock(client, data, 7, 0), 7);
    EXPECT_EQ(COMPollSock(conn, 7), RAZIVU_POLL_READABLE);
    EXPECT_THAT(f.waits, ElementsAre(7, 7, 7));
    EXPECT_EQ(COMReadSock(conn, got, 7, 0), 7);
    EXPECT_STREQ(got, "r00010|");
    EXPECT_EQ(COMCloseSock(conn), 0);  // the server closes first: its end waits in TIME_WAIT
    EXPECT_EQ(COMCloseSock(client), 0);
    EXPECT_EQ(COMCloseSock(listening), 0);
    const int32_t again = COMDoMakeListenSock();
    EXPECT_GE(again, 0);
    COMCloseSock(again);
    EXPECT_EQ(pushes(), service_warning) << "the connect's was traced";
}

// Each row runs twice: once for the pushes, once for the trace, which prints
// and empties the stack. A raw listener holds the port, so a bind fails.
TEST(ConnectAndListen, failures_push_in_order_trace_and_leave_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
        Lines pushed;                    // after the service warning, if warned
        bool warned = true;
        std::string trace = "";          // a part of the trace
        const char *host = "127.0.0.1";  // the host to connect to; nullptr: COMDoMakeListenSock
        bool connected = false;          // the connect itself went through
    };
    const std::string connect = "   COMConnectToServerSock: unable to ";
    const Row rows[] = {
        {"socket fails", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; },
         {"sys COMConnectToServerSock"}, true, connect + "create socket\n"},
        {"getsockname fails", [] { platform::net_calls().local_endpoint = test::fails_with<ENOBUFS>; },
         {"sys COMConnectToServerSock"}, true, connect + "read socket address\n", "127.0.0.1", true},
        {"no session", [] { platform::net_calls().startup = [] { return 10091; }; }, {"28 PTWSAStartup"}, false},
        {"refused", [] { COMSetDefaultPort(net_port(test::free_port())); }, {"sys COMConnectToServerSock"}, true,
         connect + "connect to remote 127.0.0.1\nPrint error stack:\nERR> 1, " + std::to_string(ECONNREFUSED) +
             ", system function COMConnectToServerSock:  Connection refused\n"},  // the cause named on Windows too
        {"no port", [] { COMSetDefaultPort(0); }, {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, true,
         "Warning (COMGetPortByName): Servive " + std::string(test::unknown_service) +
             " not found in /etc/services\nPrint error stack:\nERR> 3, 28, "},
        {"port 65535 reads as not found, quietly", [] { find_every_service(0xFFFF); },
         {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, false},
        {"unknown host", [] {}, {"1 COMConnectToServerSock"}, false,
         "Warning (COMConnectToServerSock): Host no-such-host.invalid not found in /etc/hosts. \nPlease add it "
         "and try again.\nPrint error stack:\nERR> 3, 1, RazIvu function COMConnectToServerSock:  No error text "
         "available.\n",
         "no-such-host.invalid"},
        {"listen: socket fails", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; },
         {"sys COMDoMakeListenSock"}, true, "", nullptr},
        {"listen: setsockopt fails", [] { platform::net_calls().set_option = test::fails_with<ENOPROTOOPT>; },
         {"sys COMDoMakeListenSock"}, true, "", nullptr},
        {"listen: bind fails", [] {}, {"sys COMDoMakeListenSock"}, true, "", nullptr},
        {"listen: listen fails", [] { platform::net_calls().listen = test::fails_with<EOPNOTSUPP>; },
         {"sys COMDoMakeListenSock"}, true, "", nullptr},
        {"listen: no port", [] { COMSetDefaultPort(0); }, {"sys COMDoMakeListenSock", "18 COMDoMakeListenSock"}, true,
         "", nullptr},
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
            const auto fails = [&] {
                EXPECT_EQ(row.host ? COMConnectToServerSock(row.host, COMGetServiceName()) : COMDoMakeListenSock(), -1);
            };
            Lines expected = row.warned ? service_warning : Lines{};
            expected.insert(expected.end(), row.pushed.begin(), row.pushed.end());
            if (tracing) {
                EXPECT_THAT(traced(fails), HasSubstr(row.trace)) << row.name;
                // A trace empties the stack: only pushes made after the last one stay.
                const bool step_traced = row.trace.rfind(connect, 0) == 0 ||
                                         row.trace.rfind("Warning (COMConnectToServerSock)", 0) == 0;
                expected = step_traced ? Lines{} : row.pushed;
            } else {
                fails();
            }
            EXPECT_EQ(pushes(), expected) << row.name;
            EXPECT_EQ(test::lowest_free_fd(), before) << row.name << ": a descriptor stayed open";
            if (row.connected) {
                test::close_socket(listener.accept_one());
            }
        }
    }
}

// ---- Reading, writing, polling and closing ------------------------------------------------

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
        {[](Connection &c) { EXPECT_EQ(COMReadSock(c.client, nullptr, 0, 0), 0); },  // a count of 0 returns at once
         {"< Bytes: 0\nPrint error stack:\nError stack printed.\n\n"}},
        {[](Connection &c) {  // the dump ends at a NUL, every byte is sent
             char data[] = {'a', 'b', '\0', 'c', 'd'};
             EXPECT_EQ(COMSend(c.client, data, 5), 5);
             EXPECT_EQ(test::raw_recv(c.server, 5), std::string(data, 5));
         },
         {"DEBUG: (COMSend) buffer <ab>\n", "> Bytes: 5\n"}},
        {[](Connection &c) {  // a receive waits 30 seconds and dumps the buffer after a time-out too
             test::NetCallsGuard guard;
             fakes.waits.clear();
             platform::net_calls().wait_readable = [](int32_t, int32_t s) { return fakes.waits.push_back(s), 0; };
             char buf[8] = "old";
             EXPECT_EQ(COMReceiveWithTimeout(c.client, buf, 7), 0);
             EXPECT_EQ(fakes.waits, Codes{30});
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
    EXPECT_EQ(std::string(transport::dump_text(nullptr, 3, dump)), "");
    EXPECT_EQ(std::string(transport::dump_text(big, -1, dump)), "");
}

// A failed read, write or poll closes the socket; bad arguments and a failed
// close of the caller's leave it as it was. A negative handle fails every
// operation at once with EBADF, never waiting.
TEST(ReadWrite, failures_push_in_order_and_close_the_socket_unless_nothing_was_done_to_it) {
    struct Row {
        const char *what;
        void (*fault)(Connection &);
        int32_t (*op)(Connection &);
        int32_t rc;
        Lines pushed;
        bool closed = false;
    };
    static char buf[16];
    const auto none = [](Connection &) {};
    const auto timed_read = [](Connection &c) { return COMAsyncReadSock(c.client, buf, 8, 1); };
    const Row rows[] = {
        {"-1 read", none, [](auto &) { return COMReadSock(-1, buf, 4, 0); }, -1, {"sys COMReadSock"}},
        {"-1 write", none, [](auto &) { return COMWriteSock(-1, buf, 4, 0); }, -1, {"sys COMWriteSock"}},
        {"-1 send", none, [](auto &) { return COMSend(-1, buf, 4); }, -1, {"sys COMWriteSock"}},
        {"-1 close", none, [](auto &) { return COMCloseSock(-1); }, -1, {"sys COMCloseSock"}},
        {"-1 poll", none, [](auto &) { return COMPollSock(-1, 5); }, -1, {"sys COMPollSock"}},
        {"-1 accept", none, [](auto &) { return COMWaitForConnectingSock(-1); }, -1, {"sys COMWaitForConnectingSock"}},
        {"-1 read-ahead", none, [](auto &) { return COMSetSockReadAhead(-1, 1); }, -1, {"sys COMSetSockReadAhead"}},
        {"-1 read-ahead count", none, [](auto &) { return COMGetSockReadAhead(-1); }, -1, {"sys COMGetSockReadAhead"}},
        {"a 0 from the first recv, which is read again",
         [](Connection &c) { fakes.zero_recvs = 1, test::raw_send(c.server, "abc"); },
         [](Connection &c) { return COMReadSock(c.client, buf, 3, 0); }, 3, {}},
        {"negative count", none, [](auto &c) { return COMReadSock(c.client, buf, -1, 0); }, -1, {"sys COMReadSock"}},
        {"no buffer to read into", none, [](Connection &c) { return COMReadSock(c.client, nullptr, 4, 0); }, -1,
         {"sys COMReadSock"}},
        {"no buffer to write", none, [](Connection &c) { return COMWriteSock(c.client, nullptr, 4, 0); }, -1,
         {"sys COMWriteSock"}},
        {"a short send, the rest not sent",
         [](Connection &) {
             platform::net_calls().send = [](int32_t, const char *, int32_t n, int32_t) {
                 return ++fakes.sends, n / 2;
             };
         },
         [](Connection &c) { return COMWriteSock(c.client, buf, 10, 0) + (fakes.sends == 1 ? 0 : 100); }, -1,
         {"sys COMWriteSock"}, true},
        {"a peer closing before a timed read", [](Connection &c) { c.hang_up(); }, timed_read, -1,
         {"11 COMReadSock", "53 COMAsyncReadSock"}, true},
        {"a peer closing within a timed read", [](Connection &c) { test::raw_send(c.server, "ab"), c.hang_up(); },
         timed_read, 2, {"11 COMReadSock"}, true},  // the bytes that came are counted
        {"a failing recv",
         [](Connection &c) {
             test::raw_send(c.server, "x");
             platform::net_calls().recv = test::fails_with<ECONNRESET>;
         },
         timed_read, -1, {"sys COMReadSock", "53 COMAsyncReadSock"}, true},
        {"a failing poll", [](Connection &) { platform::net_calls().wait_readable = test::fails_with<ENOMEM>; },
         [](Connection &c) { return COMPollSock(c.client, 1); }, RAZIVU_POLL_FAILED, {"sys COMPollSock"}, true},
        {"a peer that vanished, and no SIGPIPE", [](Connection &c) { c.hang_up(); },
         [](Connection &c) {
             int32_t rc = 0;
             for (int i = 0; i < 50 && rc >= 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
                 rc = COMWriteSock(c.client, buf, 16, 0);
             }
             return rc;
         },
         -1, {"sys COMWriteSock"}, true},
        {"a failing close", [](Connection &) { platform::net_calls().close = test::fails_with<EIO>; },
         [](Connection &c) { return COMCloseSock(c.client); }, -1, {"sys COMCloseSock"}},
    };
    for (const Row &row : rows) {
        Connection c;
        test::NetCallsGuard guard;
        use_fakes();
        row.fault(c);
        const auto start = Clock::now();
        EXPECT_EQ(row.op(c), row.rc) << row.what;
        const auto records = test::pop_all();
        EXPECT_EQ(test::describe(records), row.pushed) << row.what;
        if (row.what[0] == '-') {
            EXPECT_EQ(records.at(0).code, EBADF) << row.what;
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << row.what << " waited";
        }
        EXPECT_EQ(is_retired(c.client), row.closed) << row.what;
        EXPECT_EQ(!test::is_open(c.client), row.closed) << row.what;
    }
}

TEST(Poll, waits_its_seconds_or_not_at_all_for_0_and_reads_nothing_after_a_time_out) {
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
    EXPECT_THAT(pushes(), IsEmpty());
}

// ---- Read-ahead --------------------------------------------------------------------------

// RAZIVU_READAHEAD=1 switches it on for every new socket: the pieces of a
// long message leave in one send with the final piece. Switched on (here
// again by the call), one fill serves the fields and polls see what it holds;
// switched off, the buffer is served first. Nothing received is lost.
TEST(ReadAhead, one_fill_serves_the_fields_pieces_leave_in_one_send_and_nothing_received_is_lost) {
    test::set_env("RAZIVU_READAHEAD", "1");
    Connection c;
    test::unset_env("RAZIVU_READAHEAD");
    test::NetCallsGuard guard;
    const Fakes &f = use_fakes();
    std::string piece(900, 'p');
    EXPECT_EQ(transport::write_piece(c.client, piece.data(), 900, 0, true), 900);
    EXPECT_EQ(transport::write_piece(c.client, piece.data(), 900, 0, true), 900);
    EXPECT_EQ(COMSend(c.client, piece.data(), 100), 100);
    EXPECT_EQ(f.sends, 1);
    EXPECT_EQ(test::raw_recv(c.server, 1900).size(), 1900u);
    ASSERT_EQ(COMSetSockReadAhead(c.client, 0), 0);
    ASSERT_EQ(COMSetSockReadAhead(c.client, 1), 0);
    test::raw_send(c.server, "r00010|i00001|3|tail");
    ASSERT_TRUE(test::readable_within(c.client, 1000));
    SetTransport(COMSend, COMReceive, c.client);
    int32_t code = 0, value = 0;
    EXPECT_EQ(UnpackReturnCode(&code), 0);
    EXPECT_EQ(COMGetSockReadAhead(c.client), 13);
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE) << "bytes read ahead are readable";
    EXPECT_EQ(UnpackInteger(&value), 0);
    EXPECT_EQ(std::make_tuple(code, value, f.recvs), std::make_tuple(10, 3, 1));
    ASSERT_EQ(COMSetSockReadAhead(c.client, 0), 0);
    test::raw_send(c.server, "!");
    c.hang_up();
    char rest[8] = {};
    EXPECT_EQ(COMReadSock(c.client, rest, 6, 0), 5) << "switched off, the buffer comes first";
    EXPECT_STREQ(rest, "tail!");
    EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock"));
    EXPECT_EQ(COMGetSockReadAhead(c.client), -1) << "closed, its buffer gone";
}

// Fields the read-ahead buffer holds are decoded without a call of the
// receive slot, and still as the format reads them: the message buffer holds
// the last read, also after the read-ahead buffer was refilled or dropped,
// and a packer appends after it; a trace file gets every echo, and a receive
// function of the caller's is called for every read.
TEST(ReadAhead, fields_taken_from_the_buffer_leave_the_message_buffer_traces_and_slots_as_without_it) {
    Connection c;
    const auto last_read = [] { return std::string(razivu::message::buffer_start(), razivu::message::cursor()); };
    const auto send_and_wait = [&c](const std::string &bytes) {
        test::raw_send(c.server, bytes);
        ASSERT_TRUE(test::readable_within(c.client, 1000));
    };
    ASSERT_EQ(COMSetSockReadAhead(c.client, 1), 0);
    SetTransport(COMSend, COMReceive, c.client);
    int32_t value = 0;
    char *text = nullptr;
    send_and_wait("i00002|42|s00003|abc|b00001|1|");
    ASSERT_EQ(std::make_pair(UnpackInteger(&value), value), std::make_pair(0, 42));
    ASSERT_EQ(PackInteger(7), 0);
    SendBuffer();
    EXPECT_EQ(test::raw_recv(c.server, 12), "42|i00001|7|");
    ASSERT_EQ(UnpackString(&text), 0);
    UnpackFree(text);
    test::raw_send(c.server, std::string(40, 'z'));
    char rest[49];
    ASSERT_EQ(COMReadSock(c.client, rest, 49, 0), 49) << "the 9 bytes buffered, then a refill";
    EXPECT_EQ(last_read(), "abc|");
    send_and_wait("b00001|1|");
    ASSERT_EQ(UnpackBoolean(&value), 0);
    ASSERT_EQ(COMSetSockReadAhead(c.client, 0), 0);  // spent and off: the buffer goes
    EXPECT_EQ(last_read(), "1|");

    static int receives = 0;
    ASSERT_EQ(COMSetSockReadAhead(c.client, 1), 0);
    send_and_wait("i00001|5|i00001|6|");
    EXPECT_THAT(traced([&] { EXPECT_EQ(UnpackInteger(&value), 0); }), HasSubstr("(COMReceive) buffer <5|>"));
    SetTransport(nullptr, [](int32_t s, char *b, int32_t n) { return ++receives, COMReceive(s, b, n); }, c.client);
    EXPECT_EQ(std::make_tuple(UnpackInteger(&value), value, receives), std::make_tuple(0, 6, 2));
    SetTransport(nullptr, COMReceive, c.client);
    EXPECT_THAT(pushes(), IsEmpty());
}

// ---- Decoding from the wire ----------------------------------------------------------------

// The worked example, Echo("abc", null, 42, 1, {0, 255}), every recv giving
// one byte.
TEST(Wire, decodes_the_worked_example_from_a_peer_whose_bytes_come_one_at_a_time) {
    Connection c;
    test::NetCallsGuard guard;
    Fakes &f = use_fakes();
    f.max_recv = 1;
    test::raw_send(c.server, "#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|" + std::string("\0\xff|", 3));
    SetTransport(COMSend, COMReceiveWithTimeout, c.client);
    using test::Kind;
    const std::pair<Kind, std::string> fields[] = {{Kind::function, "Echo"}, {Kind::string, "abc"},
                                                   {Kind::string, "<null>"}, {Kind::integer, "42"},
                                                   {Kind::boolean, "1"},    {Kind::bytes, std::string("\0\xff", 2)}};
    for (const auto &[kind, data] : fields) {
        const test::Decoded d = test::decode_field(kind);
        EXPECT_EQ(std::make_pair(d.rc, d.data), std::make_pair(0, data));
        test::release(d);
    }
    EXPECT_EQ(f.recvs, 59);
    EXPECT_THAT(pushes(), IsEmpty());
}

}  // namespace
