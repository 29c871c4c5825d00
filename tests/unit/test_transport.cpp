// The client side against raw peers on 127.0.0.1: service and host look-ups,
// the connect and its failures, exact-count reads and writes, the double-close
// guard, pieces of one message, and the trace they leave.
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
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
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char *trace_path = "trace.txt";

std::string trace_text() {
    return test::read_file(trace_path);
}

int16_t net_port(uint16_t port) {
    return static_cast<int16_t>(htons(port));
}

// ---- Service look-up --------------------------------------------------------------------

TEST(GetPortByName, a_known_service_gives_its_port_in_network_order_and_pushes_nothing) {
    if (::getservbyname("http", "tcp") == nullptr) {
        GTEST_SKIP() << "no services database (Debian package netbase)";
    }
    EXPECT_EQ(COMGetPortByName("http", "tcp"), net_port(80));
    EXPECT_EQ(PTgetservbyname("http", "tcp")->s_port, htons(80));
    EXPECT_EQ(PTgetservbyname(test::unknown_service, "tcp"), nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(GetPortByName, an_unknown_service_pushes_traces_and_falls_back_to_the_default_port) {
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMGetPortByName(test::unknown_service, "tcp"), -1);
    COMSetDefaultPort(net_port(4711));
    EXPECT_EQ(COMGetDefaultPort(), net_port(4711));
    EXPECT_EQ(COMGetPortByName(test::unknown_service, "tcp"), net_port(4711));
    COMSetTraceFile(nullptr);
    EXPECT_THAT(trace_text(), HasSubstr(std::string("Warning (COMGetPortByName): Servive ") +
                                        test::unknown_service +
                                        " not found in /etc/services\nPrint error stack:\nERR> 3, 28, "));
    EXPECT_THAT(trace_text(), HasSubstr("ERR> 1, "));
}

TEST(GetPortByName, names_too_long_to_hold_are_not_found_rather_than_cut) {
    test::NetCallsGuard guard;
    static servent fake{};
    fake.s_port = htons(4242);
    platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
    COMSetDefaultPort(0);
    const std::string too_long(50, 's');
    EXPECT_EQ(COMGetPortByName(too_long.substr(1).c_str(), "tcp"), net_port(4242));
    EXPECT_EQ(COMGetPortByName(too_long.c_str(), "tcp"), -1);
    const auto records = test::pop_all();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].code, ENAMETOOLONG);
    EXPECT_EQ(records[1].code, RAZIVU_E_NO_SERVICE_ENTRY);
    COMSetServiceName(too_long.c_str());
    EXPECT_EQ(std::string(COMGetServiceName()), too_long) << "kept whole, not cut";
}

// ---- Connecting -------------------------------------------------------------------------

TEST(Connect, reaches_a_server_on_the_default_port_and_traces_the_connection) {
    test::RawListener listener;
    test::use_test_port(listener.port);
    COMSetTraceFile(trace_path);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    COMSetTraceFile(nullptr);
    ASSERT_GE(s, 0);
    const int server = listener.accept_one();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr *>(&local), &len), 0);
    EXPECT_THAT(trace_text(), HasSubstr("Servive " + std::string(test::unknown_service)));
    EXPECT_THAT(trace_text(), HasSubstr("connected to 127.0.0.1 on port " +
                                        std::to_string(ntohs(local.sin_port)) + " at "));
    EXPECT_THAT(trace_text(),
                ContainsRegex("at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} [0-9]{4}\n\n"));
    int nodelay = 0;
    len = sizeof nodelay;
    ::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_NE(nodelay, 0);
    EXPECT_EQ(COMCloseSock(s), 0);
    ::close(server);
}

TEST(Connect, failures_push_in_order_trace_and_leave_no_socket_open) {
    const std::vector<std::string> port_warning = {"sys COMGetPortByName", "28 COMGetPortByName"};
    const auto with_warning = [&](std::vector<std::string> more) {
        more.insert(more.begin(), port_warning.begin(), port_warning.end());
        return more;
    };
    struct Row {
        const char *name;
        void (*fault)();
        std::vector<std::string> pushed;
        bool connected;  // the connect itself went through
    };
    const Row rows[] = {
        {"socket fails", [] { platform::net_calls().open_tcp = test::fails_with<EMFILE>; },
         with_warning({"sys COMConnectToServerSock"}), false},
        {"getsockname fails", [] { platform::net_calls().local_endpoint = test::fails_with<ENOBUFS>; },
         with_warning({"sys COMConnectToServerSock"}), true},
        {"no session", [] { platform::net_calls().startup = [] { return 10091; }; },
         {"28 PTWSAStartup"}, false},
        {"refused", [] { COMSetDefaultPort(net_port(test::free_port())); },
         with_warning({"sys COMConnectToServerSock"}), false},
        {"no port", [] { COMSetDefaultPort(0); },
         with_warning({"sys COMConnectToServerSock", "28 COMConnectToServerSock"}), false},
        {"port 65535 reads as not found, quietly",
         [] {
             static servent fake{};
             fake.s_port = 0xFFFF;
             platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
         },
         {"sys COMConnectToServerSock", "28 COMConnectToServerSock"}, false},
    };
    test::RawListener listener;
    for (const Row &row : rows) {
        test::NetCallsGuard guard;
        test::use_test_port(listener.port);
        PTWSACleanup();
        test::pop_all();
        row.fault();
        const int before = test::lowest_free_fd();
        EXPECT_EQ(COMConnectToServerSock("127.0.0.1", COMGetServiceName()), -1) << row.name;
        EXPECT_EQ(pushes(), row.pushed) << row.name;
        EXPECT_EQ(test::lowest_free_fd(), before) << row.name << ": a descriptor stayed open";
        if (row.connected) {
            ::close(listener.accept_one());
        }
    }
    rows[3].fault();  // refused again, traced: the trace prints and empties the stack
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMConnectToServerSock("127.0.0.1", COMGetServiceName()), -1);
    COMSetTraceFile(nullptr);
    EXPECT_THAT(trace_text(),
                HasSubstr("   COMConnectToServerSock: unable to connect to remote 127.0.0.1\n"
                          "Print error stack:\nERR> 1, " + std::to_string(ECONNREFUSED)));
}

// ---- The remembered host ------------------------------------------------------------------

// Counts host look-ups, passed on to the resolver or all answered with 127.0.0.1.
struct Lookups {
    int n = 0;
    decltype(platform::NetCalls::host_address) system = nullptr;
    bool loopback = false;
};
Lookups lookups;

void count_lookups(bool loopback = false) {
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
    count_lookups();
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

    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(lookups.n, 3) << "a failed look-up is forgotten";
    EXPECT_THAT(trace_text(),
                HasSubstr("Warning (COMConnectToServerSock): Host no-such-host.invalid not found "
                          "in /etc/hosts. \nPlease add it and try again.\nPrint error stack:\n"
                          "ERR> 3, 1, RazIvu function COMConnectToServerSock:  No error text "
                          "available.\n"));
}

TEST(RememberedHost, empty_missing_and_over_long_names_are_not_found_whatever_is_remembered) {
    test::NetCallsGuard guard;
    count_lookups(true);
    test::use_test_port(test::free_port());
    const std::string longest(95, 'h');
    const std::string one_more = longest + "x";  // would be cut into the remembered name
    const char *hosts[] = {"", nullptr, one_more.c_str()};
    for (const char *host : hosts) {
        COMConnectToServerSock(longest.c_str(), COMGetServiceName());  // remembered
        test::pop_all();
        lookups.n = 0;
        EXPECT_EQ(COMConnectToServerSock(host, COMGetServiceName()), -1) << (host ? host : "null");
        EXPECT_EQ(lookups.n, 0) << (host ? host : "null");
        EXPECT_THAT(pushes(), ElementsAre("1 COMConnectToServerSock")) << (host ? host : "null");
    }
    COMConnectToServerSock(longest.c_str(), COMGetServiceName());
    EXPECT_EQ(lookups.n, 1) << "95 characters are looked up; the refused name forgot the last";
}

// ---- Reading and writing --------------------------------------------------------------------

TEST(ReadSock, a_count_of_0_returns_at_once_pushes_nothing_and_traces_0) {
    test::Connection c;
    char buf[4];
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReadSock(c.client, buf, 0, 0), 0);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(trace_text(), "< Bytes: 0\nPrint error stack:\nError stack printed.\n\n");
}

TEST(ReadSock, collects_data_that_arrives_in_many_small_segments) {
    test::Connection c;
    const std::string sent = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    std::thread peer([&] {
        for (char ch : sent) {
            test::raw_send(c.server, std::string(1, ch));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string got(sent.size(), '\0');
    EXPECT_EQ(COMReadSock(c.client, got.data(), static_cast<int32_t>(got.size()), 0), 40);
    peer.join();
    EXPECT_EQ(got, sent);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(ReadSock, a_peer_closing_mid_count_gives_the_bytes_code_11_a_dump_and_a_closed_socket) {
    test::Connection c;
    test::raw_send(c.server, "r00010|");
    c.hang_up();
    char buf[16] = {};
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReceive(c.client, buf, 10), 7);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(std::string(buf), "r00010|");
    EXPECT_THAT(trace_text(), HasSubstr("< Bytes: 7\nPrint error stack:\nERR> 3, 11, RazIvu "
                                        "function COMReadSock:  Operation failed.\n"));
    EXPECT_THAT(trace_text(), HasSubstr("DEBUG: (COMReceive) buffer <r00010|>\n"));
    EXPECT_TRUE(is_retired(c.client));
}

TEST(ReadSock, bad_arguments_are_refused_and_the_socket_stays_open) {
    test::Connection c;
    char buf[4];
    EXPECT_EQ(COMReadSock(c.client, buf, -1, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, nullptr, 4, 0), -1);
    EXPECT_EQ(COMWriteSock(c.client, nullptr, 4, 0), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMReadSock", "sys COMReadSock", "sys COMWriteSock"));
    EXPECT_FALSE(is_retired(c.client));
}

TEST(WriteSock, send_traces_a_dump_up_to_a_NUL_and_the_count_and_sends_every_byte) {
    test::Connection c;
    char data[] = {'a', 'b', '\0', 'c', 'd'};
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMSend(c.client, data, 5), 5);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(test::raw_recv(c.server, 5), std::string(data, 5));
    EXPECT_THAT(trace_text(), HasSubstr("DEBUG: (COMSend) buffer <ab>\n"));
    EXPECT_THAT(trace_text(), HasSubstr("> Bytes: 5\n"));
    char dump[razivu::transport::dump_cap];
    const std::string big(1500, 'z');
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), 1500, dump)), big.substr(0, 999));
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), 3, dump)), "zzz");
    EXPECT_EQ(std::string(razivu::transport::dump_text(nullptr, 3, dump)), "");
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), -1, dump)), "");
}

TEST(WriteSock, a_partial_send_fails_and_closes_without_sending_the_rest) {
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

TEST(WriteSock, a_peer_that_vanished_fails_the_write_without_a_signal) {
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

// ---- Closing twice ------------------------------------------------------------------------------

TEST(CloseSock, after_the_transport_closed_a_socket_its_reused_number_is_left_alone) {
    test::Connection c;
    c.hang_up();
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);  // closed by the transport
    test::pop_all();
    const std::string path = test::root() + "/work/unrelated.txt";
    test::write_file(path, "keep me");
    const int file = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(file, c.client) << "Linux hands out the lowest free number";

    EXPECT_EQ(COMWriteSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMPollSock(c.client, 0), -1);
    EXPECT_EQ(COMCloseSock(c.client), -1);
    const auto records = test::pop_all();
    ASSERT_EQ(records.size(), 4u);
    for (const auto &r : records) {
        EXPECT_EQ(r.kind, RAZIVU_KIND_SYSTEM);
        EXPECT_EQ(r.code, EBADF);
    }
    char text[8] = {};
    EXPECT_EQ(::read(file, text, 7), 7) << "the unrelated file was closed or read from";
    EXPECT_FALSE(is_retired(c.client)) << "the caller's close released it";
    ::close(file);
    c.client = -1;
}

TEST(CloseSock, a_number_opened_again_is_served_normally_and_foreign_handles_are_closed) {
    test::Connection c;
    c.hang_up();
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);  // closed by the transport
    const int32_t again = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    ASSERT_EQ(again, c.client) << "Linux hands out the lowest free number";
    test::pop_all();
    const int peer = c.listener.accept_one();
    char data[] = "ok";
    EXPECT_EQ(COMWriteSock(again, data, 2, 0), 2);
    EXPECT_EQ(test::raw_recv(peer, 2), "ok");
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

// ---- Pieces of one message ----------------------------------------------------------------------

bool readable_within(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

TEST(Pieces, only_the_announced_piece_waits_until_the_final_piece_or_a_poll) {
    test::Connection c;
    std::string first(900, 'a');
    std::string last(100, 'z');
    razivu::transport::message_continues(c.client, first.data(), 899);  // not this count
    EXPECT_EQ(COMSend(c.client, first.data(), 900), 900);
    ASSERT_TRUE(readable_within(c.server, 1000)) << "an unannounced piece was held";
    EXPECT_EQ(test::raw_recv(c.server, 900), first);

    razivu::transport::message_continues(c.client, first.data(), 900);
    EXPECT_EQ(COMSend(c.client, first.data(), 900), 900);
    EXPECT_FALSE(readable_within(c.server, 50)) << "the first piece left on its own";
    EXPECT_EQ(COMSend(c.client, last.data(), 100), 100);
    ASSERT_TRUE(readable_within(c.server, 1000));
    EXPECT_EQ(test::raw_recv(c.server, 1000), first + last);

    razivu::transport::message_continues(c.client, last.data(), 100);
    EXPECT_EQ(COMSend(c.client, last.data(), 100), 100);
    EXPECT_FALSE(readable_within(c.server, 50));
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT) << "an unfinished message leaves";
    ASSERT_TRUE(readable_within(c.server, 1000));
    EXPECT_EQ(test::raw_recv(c.server, 100), last);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(Pieces, a_socket_of_the_callers_own_is_never_held_back) {
    test::RawListener listener;
    const int mine = test::raw_connect(listener.port);
    const int server = listener.accept_one();
    char data[] = "r00010|";
    razivu::transport::message_continues(mine, data, 7);
    EXPECT_EQ(COMSend(mine, data, 7), 7);
    EXPECT_TRUE(readable_within(server, 1000));
    ::close(server);
    ::close(mine);
}

}  // namespace
