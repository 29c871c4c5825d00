// The transport on 127.0.0.1 against raw peers: look-ups and the remembered
// host, connecting, listening and accepting, exact-count reads and writes,
// polls and reads with a time-out, the double-close guard, pieces of one
// message, the pushes and trace lines each leaves, and the worked example
// answered byte for byte.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "rpc/transport_internal.h"
#include "support/test_env.h"

namespace {

namespace platform = razivu::platform;
namespace test = razivu::test;
namespace transport = razivu::transport;
using test::pushes;
using transport::is_retired;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

// The pushes of a look-up of the unknown test service.
const std::vector<std::string> service_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};

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

// ---- Service look-up -------------------------------------------------------------------

TEST(GetPortByName, an_unknown_service_falls_back_to_the_default_port_and_a_known_one_is_found) {
    EXPECT_EQ(COMGetPortByName(test::unknown_service, "tcp"), -1);
    COMSetDefaultPort(net_port(4711));
    EXPECT_EQ(COMGetDefaultPort(), net_port(4711));
    EXPECT_EQ(COMGetPortByName(test::unknown_service, "tcp"), net_port(4711));
    EXPECT_EQ(test::pop_all().size(), 2 * service_warning.size());
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
    COMSetDefaultPort(0);
    const std::string too_long(50, 's');
    EXPECT_EQ(COMGetPortByName(too_long.c_str(), "tcp"), -1);
    const auto records = test::pop_all();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].code, ENAMETOOLONG);
    EXPECT_EQ(records[1].code, RAZIVU_E_NO_SERVICE_ENTRY);
    COMSetServiceName(too_long.c_str());
    EXPECT_EQ(std::string(COMGetServiceName()), too_long) << "kept whole, not cut";
}

// ---- Connecting ------------------------------------------------------------------------

TEST(Connect, reaches_a_server_on_the_default_port_and_traces_the_connection) {
    test::RawListener listener;
    test::use_test_port(listener.port);
    int32_t s = -1;
    const std::string trace = traced([&] { s = COMConnectToServerSock("127.0.0.1", COMGetServiceName()); });
    ASSERT_GE(s, 0);
    const int server = listener.accept_one();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr *>(&local), &len), 0);
    EXPECT_THAT(trace, HasSubstr("connected to 127.0.0.1 on port " + std::to_string(ntohs(local.sin_port)) +
                                 " at "));
    EXPECT_THAT(trace, ContainsRegex("at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} [0-9]{4}\n\n"));
    EXPECT_TRUE(nodelay(s));
    EXPECT_EQ(COMCloseSock(s), 0);
    ::close(server);
}

// Each row runs twice: once for the pushes, once for the trace, which prints
// and empties the stack.
TEST(Connect, failures_push_in_order_trace_and_leave_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
        std::vector<std::string> pushed;  // after the service warning, if warned
        bool warned;
        bool connected;     // the connect itself went through
        std::string trace;  // a part of the trace
        const char *host = "127.0.0.1";
    };
    const std::string warning = "Warning (COMGetPortByName): Servive " + std::string(test::unknown_service) +
                                " not found in /etc/services\nPrint error stack:\nERR> 3, 28, ";
    const Row rows[] = {
        {"socket fails", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; },
         {"sys COMConnectToServerSock"}, true, false, "   COMConnectToServerSock: unable to create socket\n"},
        {"getsockname fails", [] { platform::net_calls().local_endpoint = test::fails_with<ENOBUFS>; },
         {"sys COMConnectToServerSock"}, true, true, "   COMConnectToServerSock: unable to read socket address\n"},
        {"no session", [] { platform::net_calls().startup = [] { return 10091; }; },
         {"28 PTWSAStartup"}, false, false, ""},
        {"refused", [] { COMSetDefaultPort(net_port(test::free_port())); },
         {"sys COMConnectToServerSock"}, true, false,
         "   COMConnectToServerSock: unable to connect to remote 127.0.0.1\nPrint error stack:\nERR> 1, " +
             std::to_string(ECONNREFUSED)},
        {"no port", [] { COMSetDefaultPort(0); },
         {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, true, false, warning},
        {"port 65535 reads as not found, quietly",
         [] {
             static servent fake{};
             fake.s_port = 0xFFFF;
             platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
         },
         {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, false, false, ""},
        {"unknown host", [] {}, {"1 COMConnectToServerSock"}, false, false,
         "Warning (COMConnectToServerSock): Host no-such-host.invalid not found in /etc/hosts. \nPlease add "
         "it and try again.\nPrint error stack:\nERR> 3, 1, RazIvu function COMConnectToServerSock:  No error "
         "text available.\n",
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
            const auto connect = [&] { EXPECT_EQ(COMConnectToServerSock(row.host, COMGetServiceName()), -1); };
            if (tracing) {
                EXPECT_THAT(traced(connect), HasSubstr(row.trace)) << row.name;
            } else {
                connect();
                std::vector<std::string> expected = row.warned ? service_warning : std::vector<std::string>{};
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

// ---- The remembered host ---------------------------------------------------------------

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
        if (lookups.loopback) {
            *addr = htonl(INADDR_LOOPBACK);
            return 0;
        }
        return lookups.system(name, addr);
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
    EXPECT_EQ(lookups.n, 1);
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

// ---- Listening and accepting -----------------------------------------------------------

TEST(Listen, serves_the_default_port_survives_a_failed_accept_and_listens_again_after_a_close) {
    const uint16_t port = test::free_port();
    test::use_test_port(port);
    const int32_t first = COMDoMakeListenSock();
    ASSERT_GE(first, 0);
    EXPECT_EQ(pushes(), service_warning);
    {
        test::NetCallsGuard guard;
        platform::net_calls().accept = test::fails_with<ECONNABORTED>;
        EXPECT_EQ(COMWaitForConnectingSock(first), -1);
        EXPECT_THAT(pushes(), ElementsAre("sys COMWaitForConnectingSock"));
    }
    const int client = test::raw_connect(port);
    const int32_t conn = COMWaitForConnectingSock(first);
    ASSERT_GE(conn, 0) << "the listening socket stayed open";
    EXPECT_TRUE(nodelay(conn));
    EXPECT_EQ(COMCloseSock(conn), 0);  // the server closes first: its end waits in TIME_WAIT
    ::close(client);
    EXPECT_EQ(COMCloseSock(first), 0);
    const int32_t second = COMDoMakeListenSock();
    EXPECT_GE(second, 0);
    COMCloseSock(second);
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
        std::vector<std::string> expected = service_warning;
        expected.push_back("sys COMDoMakeListenSock");
        if (step == "no port") {
            expected.push_back("18 COMDoMakeListenSock");
        }
        EXPECT_EQ(test::describe(records), expected) << step;
        if (step == "bind" && records.size() == 3) {
            EXPECT_EQ(records[2].code, EADDRINUSE);
        }
        EXPECT_EQ(test::lowest_free_fd(), before) << step << ": a descriptor stayed open";
    }
}

// ---- Reading and writing ---------------------------------------------------------------

// Stands in for the system's select: records the seconds asked, reports a time-out.
int32_t waited = -1;
int32_t time_out(int32_t, int32_t seconds) {
    waited = seconds;
    return 0;
}

TEST(ReadWrite, each_traces_its_count_and_buffer_with_the_stack_printed_after_each_line) {
    struct Row {
        const char *what;
        void (*run)(test::Connection &);
        std::vector<std::string> trace;  // parts of the trace, in no particular order
    };
    const Row rows[] = {
        {"a peer closing mid-count gives the bytes, code 11 and a closed socket",
         [](test::Connection &c) {
             test::raw_send(c.server, "r00010|");
             c.hang_up();
             char buf[16] = {};
             EXPECT_EQ(COMReceive(c.client, buf, 10), 7);
             EXPECT_EQ(std::string(buf), "r00010|");
             EXPECT_TRUE(is_retired(c.client));
         },
         {"< Bytes: 7\nPrint error stack:\nERR> 3, 11, RazIvu function COMReadSock:  Operation failed.\n",
          "DEBUG: (COMReceive) buffer <r00010|>\n"}},
        {"a count of 0 returns at once",
         [](test::Connection &c) {
             char buf[4];
             EXPECT_EQ(COMReadSock(c.client, buf, 0, 0), 0);
         },
         {"< Bytes: 0\nPrint error stack:\nError stack printed.\n\n"}},
        {"a send dumps up to a NUL and sends every byte",
         [](test::Connection &c) {
             char data[] = {'a', 'b', '\0', 'c', 'd'};
             EXPECT_EQ(COMSend(c.client, data, 5), 5);
             EXPECT_EQ(test::raw_recv(c.server, 5), std::string(data, 5));
         },
         {"DEBUG: (COMSend) buffer <ab>\n", "> Bytes: 5\n"}},
        {"a receive waits 30 seconds and dumps the buffer after a time-out too",
         [](test::Connection &c) {
             test::NetCallsGuard guard;
             platform::net_calls().wait_readable = time_out;
             char buf[8] = "old";
             EXPECT_EQ(COMReceiveWithTimeout(c.client, buf, 7), 0);
             EXPECT_EQ(waited, 30);
         },
         {"DEBUG: (COMReceive) buffer <old>\n"}},
    };
    for (const Row &row : rows) {
        test::Connection c;
        const std::string trace = traced([&] { row.run(c); });
        for (const std::string &part : row.trace) {
            EXPECT_THAT(trace, HasSubstr(part)) << row.what;
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

TEST(ReadWrite, bad_arguments_fail_and_leave_the_socket_open) {
    test::Connection c;
    char buf[4];
    EXPECT_EQ(COMReadSock(c.client, buf, -1, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, nullptr, 4, 0), -1);
    EXPECT_EQ(COMWriteSock(c.client, nullptr, 4, 0), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMReadSock", "sys COMReadSock", "sys COMWriteSock"));
    EXPECT_FALSE(is_retired(c.client));
}

TEST(ReadWrite, a_partial_send_fails_and_closes_without_sending_the_rest) {
    test::Connection c;
    test::NetCallsGuard guard;
    static int sends = 0;
    platform::net_calls().send = [](int32_t, const char *, int32_t n, int32_t) {
        ++sends;
        return n / 2;
    };
    char data[] = "0123456789";
    EXPECT_EQ(COMWriteSock(c.client, data, 10, 0), -1);
    EXPECT_EQ(sends, 1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMWriteSock"));
    EXPECT_TRUE(is_retired(c.client));
}

TEST(ReadWrite, a_peer_that_vanished_fails_the_write_without_a_signal) {
    test::Connection c;
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

// ---- Polls and reads with a time-out ---------------------------------------------------

TEST(Poll, waits_its_seconds_or_not_at_all_for_0_reads_nothing_and_takes_a_hang_up_as_readable) {
    test::Connection c;
    auto start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    start = Clock::now();
    EXPECT_EQ(COMPollSock(c.client, 1), RAZIVU_POLL_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    test::raw_send(c.server, "abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE);
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_READABLE) << "the poll consumed data";
    char buf[3];
    ASSERT_EQ(COMReadSock(c.client, buf, 3, 0), 3);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.hang_up();
    });
    EXPECT_EQ(COMPollSock(c.client, 3), RAZIVU_POLL_READABLE);
    late.join();
    EXPECT_THAT(pushes(), IsEmpty());
}

// Interrupted waits start over with the full time-out.
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

TEST(AsyncRead, a_time_out_returns_0_and_a_later_read_still_works) {
    test::Connection c;
    char buf[4] = {};
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 4, 0), 0);
    EXPECT_THAT(pushes(), IsEmpty());
    test::raw_send(c.server, "data");
    EXPECT_EQ(COMAsyncReadSock(c.client, buf, 4, 2), 4);
    EXPECT_EQ(std::string(buf, 4), "data");
}

TEST(AsyncRead, a_peer_that_closes_or_a_failing_recv_is_a_failure_not_a_time_out) {
    for (const char *sent : {"", "ab", static_cast<const char *>(nullptr)}) {  // or recv fails
        test::Connection c;
        test::raw_send(c.server, sent != nullptr ? sent : "x");
        test::NetCallsGuard guard;
        if (sent == nullptr) {
            platform::net_calls().recv = test::fails_with<ECONNRESET>;
        } else {
            c.hang_up();
        }
        char buf[8] = {};
        EXPECT_EQ(COMAsyncReadSock(c.client, buf, 8, 2), -1);
        const auto records = test::pop_all();
        EXPECT_THAT(test::describe(records),
                    ElementsAre(sent != nullptr ? "11 COMReadSock" : "sys COMReadSock", "53 COMAsyncReadSock"));
        EXPECT_EQ(records.at(0).code, sent != nullptr ? RAZIVU_E_FAILED : ECONNRESET);
        EXPECT_TRUE(is_retired(c.client));
    }
}

// ---- Closing ---------------------------------------------------------------------------

// Lets the transport close c's client socket itself, as after a failure.
void retire(test::Connection &c) {
    c.hang_up();
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);
    test::pop_all();
}

TEST(CloseSock, after_the_transport_closed_a_socket_its_reused_number_is_left_alone) {
    test::Connection c;
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

TEST(CloseSock, a_number_opened_again_is_served_and_foreign_handles_and_failed_closes_are_reported) {
    test::Connection c;
    retire(c);
    const int32_t again = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    ASSERT_EQ(again, c.client) << "Linux hands out the lowest free number";
    test::pop_all();
    const int peer = c.listener.accept_one();
    char data[] = "ok";
    EXPECT_EQ(COMWriteSock(again, data, 2, 0), 2);
    EXPECT_EQ(test::raw_recv(peer, 2), "ok");
    {
        test::NetCallsGuard guard;
        platform::net_calls().close = test::fails_with<EIO>;
        EXPECT_EQ(COMCloseSock(again), -1);
        EXPECT_THAT(pushes(), ElementsAre("sys COMCloseSock"));
    }
    EXPECT_EQ(COMCloseSock(again), 0);
    EXPECT_THAT(pushes(), IsEmpty());
    ::close(peer);
    c.client = -1;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(COMCloseSock(fds[0]), 0) << "a handle the library never saw";
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
    ::close(fds[1]);
}

// ---- Pieces of one message -------------------------------------------------------------

// A piece with more to follow waits in the socket until something lets it go.
TEST(Pieces, a_held_piece_leaves_with_the_final_piece_or_before_a_poll_or_a_read) {
    const std::pair<const char *, void (*)(test::Connection &)> rows[] = {
        {"final piece",
         [](test::Connection &c) {
             char last[] = "z";
             EXPECT_EQ(COMSend(c.client, last, 1), 1);
         }},
        {"poll", [](test::Connection &c) { EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT); }},
        {"read",
         [](test::Connection &c) {
             test::raw_send(c.server, "r");
             char reply;
             EXPECT_EQ(COMReadSock(c.client, &reply, 1, 0), 1);
         }},
    };
    for (const auto &[what, release] : rows) {
        test::Connection c;
        std::string first(900, 'a');
        EXPECT_EQ(transport::send_piece(COMSend, c.client, first.data(), 900, true), 900);
        EXPECT_FALSE(readable_within(c.server, 50)) << what << ": the first piece left on its own";
        release(c);
        EXPECT_TRUE(readable_within(c.server, 100)) << what;
        EXPECT_EQ(test::raw_recv(c.server, 900), first) << what;
        EXPECT_THAT(pushes(), IsEmpty());
    }
}

TEST(Pieces, a_socket_of_the_callers_own_is_never_held_back) {
    test::RawListener listener;
    const int mine = test::raw_connect(listener.port);
    const int server = listener.accept_one();
    char data[] = "r00010|";
    EXPECT_EQ(transport::send_piece(COMSend, mine, data, 7, true), 7);
    EXPECT_TRUE(readable_within(server, 1000));
    ::close(server);
    ::close(mine);
}

// ---- A server answering a call ----------------------------------------------------------

// The worked example: Echo("abc", null, 42, 1, {0, 255}).
const std::string echo_call = std::string("#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|") +
                              std::string("\x00\xff|", 3);
const std::string echo_reply = "r00010|" + echo_call.substr(12);

// A listening socket of the library on port, the look-up warning dropped.
int32_t listen_on(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMDoMakeListenSock();
    test::pop_all();
    return s;
}

// Decodes the worked example from conn and echoes it back with code 10: the
// reply bytes show whether every field was read right.
void serve_worked_example(int32_t conn) {
    SetTransport(COMSend, COMReceiveWithTimeout, conn);
    char *name = nullptr, *text = nullptr, *null_text = nullptr, *bytes = nullptr;
    int32_t number = 0, flag = 0, count = 0;
    ASSERT_EQ(UnpackFunctionName(&name), 0);
    EXPECT_STREQ(name, "Echo");
    ASSERT_EQ(UnpackString(&text), 0);
    ASSERT_EQ(UnpackString(&null_text), 0);
    ASSERT_EQ(UnpackInteger(&number), 0);
    ASSERT_EQ(UnpackBoolean(&flag), 0);
    ASSERT_EQ(UnpackByteArray(&bytes, &count), 0);
    ResetBuffer();
    PackReturnCode(10);
    PackString(text);
    PackString(null_text);
    PackInteger(number);
    PackBoolean(flag);
    PackByteArray(bytes, count);
    SendBuffer();
    UnpackFree(name);
    UnpackFree(text);
    UnpackFree(bytes);
}

TEST(Server, answers_the_worked_example_from_a_client_that_sends_it_in_small_segments) {
    const uint16_t port = test::free_port();
    const int32_t listening = listen_on(port);
    ASSERT_GE(listening, 0);
    std::string reply;
    std::thread client([&] {
        const int fd = test::raw_connect(port);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // a segment per byte
        for (char ch : echo_call) {
            test::raw_send(fd, std::string(1, ch));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        reply = test::raw_recv(fd, echo_reply.size() + 1);  // one more: none comes
        ::close(fd);
    });
    const int32_t conn = COMWaitForConnectingSock(listening);
    serve_worked_example(conn);
    COMCloseSock(conn);
    client.join();
    EXPECT_EQ(reply, echo_reply);
    EXPECT_THAT(pushes(), IsEmpty());
    COMCloseSock(listening);
}

TEST(Server, a_client_that_closes_mid_field_fails_the_decoder_after_the_transport) {
    const uint16_t port = test::free_port();
    const int32_t listening = listen_on(port);
    const int fd = test::raw_connect(port);
    test::raw_send(fd, "#00004|Echo|s00010|abc");
    ::close(fd);
    const int32_t conn = COMWaitForConnectingSock(listening);
    SetTransport(COMSend, COMReceive, conn);
    char *name = nullptr, *text = nullptr;
    ASSERT_EQ(UnpackFunctionName(&name), 0);
    EXPECT_EQ(UnpackString(&text), -1);
    EXPECT_EQ(text, nullptr);
    EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock", "54 unpack_string", "54 UnpackString"));
    EXPECT_TRUE(is_retired(conn));
    UnpackFree(name);
    COMCloseSock(listening);
}

}  // namespace
