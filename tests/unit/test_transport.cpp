// The client side against raw peers on 127.0.0.1: service and host look-ups,
// the connect and its failures, exact-count reads and writes, and the trace
// they leave.
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <netdb.h>
#include <string>
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
using razivu::test::RawListener;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char *trace_path = "trace.txt";

std::string trace_text() {
    return razivu::test::read_file(trace_path);
}

// A connected pair: the library's client socket and the raw server end.
struct Connection {
    RawListener listener;
    int32_t client = -1;
    int server = -1;

    Connection() {
        razivu::test::use_test_port(listener.port);
        client = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
        server = listener.accept_one();
        razivu::test::pop_all();  // the service warning of the unknown name
    }
    ~Connection() {
        if (server >= 0) {
            ::close(server);
        }
        if (client >= 0) {
            COMCloseSock(client);  // releases the handle also when the transport closed it
        }
        razivu::test::pop_all();
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
};

// Counts host look-ups and forwards them to the resolver.
struct Lookups {
    int n = 0;
    decltype(platform::NetCalls::host_address) system = nullptr;
};
Lookups lookups;

void count_lookups() {
    lookups = Lookups{0, platform::net_calls().host_address};
    platform::net_calls().host_address = [](const char *name, uint32_t *addr) {
        ++lookups.n;
        return lookups.system(name, addr);
    };
}

// ---- Service look-up ------------------------------------------------------------------

TEST(GetPortByName, a_known_service_gives_its_port_in_network_order_and_pushes_nothing) {
    if (::getservbyname("http", "tcp") == nullptr) {
        GTEST_SKIP() << "no services database (Debian package netbase)";
    }
    EXPECT_EQ(static_cast<uint16_t>(COMGetPortByName("http", "tcp")), htons(80));
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(GetPortByName, an_unknown_service_pushes_traces_and_falls_back_to_the_default_port) {
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMGetPortByName(razivu::test::unknown_service, "tcp"), -1);
    COMSetDefaultPort(static_cast<int16_t>(htons(4711)));
    EXPECT_EQ(COMGetDefaultPort(), static_cast<int16_t>(htons(4711)));
    EXPECT_EQ(COMGetPortByName(razivu::test::unknown_service, "tcp"),
              static_cast<int16_t>(htons(4711)));
    COMSetTraceFile(nullptr);
    const std::string warning = std::string("Warning (COMGetPortByName): Servive ") +
                                razivu::test::unknown_service + " not found in /etc/services\n";
    const std::string trace = trace_text();
    EXPECT_THAT(trace, HasSubstr(warning + "Print error stack:\nERR> 3, 28, "));
    EXPECT_THAT(trace, HasSubstr("ERR> 1, "));
}

TEST(GetPortByName, names_too_long_to_hold_are_not_found_rather_than_cut) {
    NetCallsGuard guard;
    static servent fake{};
    fake.s_port = htons(4242);
    platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
    COMSetDefaultPort(0);
    const std::string fits(49, 's');
    const std::string too_long(50, 's');
    EXPECT_EQ(COMGetPortByName(fits.c_str(), "tcp"), static_cast<int16_t>(htons(4242)));
    EXPECT_EQ(COMGetPortByName(too_long.c_str(), "tcp"), -1);
    const auto records = razivu::test::pop_all();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].code, ENAMETOOLONG);
    EXPECT_EQ(records[1].code, RAZIVU_E_NO_SERVICE_ENTRY);

    COMSetServiceName(too_long.c_str());
    EXPECT_EQ(std::string(COMGetServiceName()), too_long) << "kept whole, not cut";
}

TEST(GetPortByName, port_65535_reads_as_not_found_for_the_connect) {
    NetCallsGuard guard;
    static servent fake{};
    fake.s_port = 0xFFFF;
    platform::net_calls().service_by_name = [](const char *, const char *) { return &fake; };
    EXPECT_EQ(COMGetPortByName("whatever", "tcp"), -1);
    EXPECT_THAT(pushes(), IsEmpty());
    EXPECT_EQ(COMConnectToServerSock("127.0.0.1", "whatever"), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMConnectToServerSock", "28 COMConnectToServerSock"));
}

// ---- Connecting -------------------------------------------------------------------------

TEST(Connect, reaches_a_server_on_the_default_port_and_traces_the_connection) {
    RawListener listener;
    razivu::test::use_test_port(listener.port);
    COMSetTraceFile(trace_path);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    COMSetTraceFile(nullptr);
    ASSERT_GE(s, 0);
    const int server = listener.accept_one();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr *>(&local), &len), 0);
    const std::string line = "connected to 127.0.0.1 on port " +
                             std::to_string(ntohs(local.sin_port)) + " at ";
    EXPECT_THAT(trace_text(), HasSubstr(line));
    EXPECT_THAT(trace_text(),
                ContainsRegex("at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} [0-9]{4}\n\n"));
    EXPECT_THAT(trace_text(), HasSubstr("Servive " + std::string(razivu::test::unknown_service)));

    int nodelay = 0;
    len = sizeof nodelay;
    ::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_NE(nodelay, 0);
    EXPECT_EQ(COMCloseSock(s), 0);
    ::close(server);
}

TEST(Connect, a_refused_connection_pushes_traces_and_closes_the_new_socket) {
    razivu::test::use_test_port(razivu::test::free_port());
    razivu::test::pop_all();
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMConnectToServerSock("127.0.0.1", COMGetServiceName()), -1);
    COMSetTraceFile(nullptr);
    EXPECT_THAT(trace_text(),
                HasSubstr("   COMConnectToServerSock: unable to connect to remote 127.0.0.1\n"
                          "Print error stack:\nERR> 1, " + std::to_string(ECONNREFUSED)));
}

TEST(Connect, failures_push_in_order_and_leave_no_socket_open) {
    struct Row {
        const char *name;
        void (*fault)();
        std::vector<std::string> pushed;
        bool connected;  // the connect itself went through
    };
    const std::vector<Row> rows = {
        {"socket fails",
         [] { platform::net_calls().open_tcp = [] { errno = EMFILE; return -1; }; },
         {"sys COMGetPortByName", "28 COMGetPortByName", "sys COMConnectToServerSock"}, false},
        {"getsockname fails",
         [] {
             platform::net_calls().local_endpoint = [](int32_t, platform::Ipv4Endpoint *) {
                 errno = ENOBUFS;
                 return -1;
             };
         },
         {"sys COMGetPortByName", "28 COMGetPortByName", "sys COMConnectToServerSock"}, true},
        {"no session", [] { platform::net_calls().startup = [] { return 10091; }; },
         {"28 PTWSAStartup"}, false},
    };
    RawListener listener;
    for (const Row &row : rows) {
        NetCallsGuard guard;
        razivu::test::use_test_port(listener.port);
        PTWSACleanup();
        razivu::test::pop_all();
        row.fault();
        const int before = ::dup(0);
        ::close(before);
        EXPECT_EQ(COMConnectToServerSock("127.0.0.1", COMGetServiceName()), -1) << row.name;
        EXPECT_EQ(pushes(), row.pushed) << row.name;
        const int after = ::dup(0);
        ::close(after);
        EXPECT_EQ(before, after) << row.name << ": a descriptor stayed open";
        if (row.connected) {
            ::close(listener.accept_one());
        }
    }
}

TEST(Connect, a_service_unknown_without_default_port_fails_before_any_socket) {
    COMSetServiceName(razivu::test::unknown_service);
    COMSetDefaultPort(0);
    EXPECT_EQ(COMConnectToServerSock("127.0.0.1", COMGetServiceName()), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMGetPortByName", "28 COMGetPortByName",
                                      "sys COMConnectToServerSock", "28 COMConnectToServerSock"));
}

// ---- The remembered host ------------------------------------------------------------------

TEST(RememberedHost, a_second_connect_to_the_same_name_does_no_look_up) {
    NetCallsGuard guard;
    count_lookups();
    razivu::test::use_test_port(razivu::test::free_port());  // nobody listens: connect fails
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(COMConnectToServerSock("localhost", COMGetServiceName()), -1);
    EXPECT_EQ(lookups.n, 1) << "remembered after the look-up, even though connect failed";

    RawListener listener;
    razivu::test::use_test_port(listener.port);
    const int32_t s = COMConnectToServerSock("localhost", COMGetServiceName());
    EXPECT_GE(s, 0) << "the remembered address takes the new port";
    EXPECT_EQ(lookups.n, 1);
    COMCloseSock(s);
}

TEST(RememberedHost, a_failed_look_up_forgets_and_is_repeated) {
    NetCallsGuard guard;
    count_lookups();
    razivu::test::use_test_port(razivu::test::free_port());
    COMSetTraceFile(trace_path);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(COMConnectToServerSock("no-such-host.invalid", COMGetServiceName()), -1);
    }
    COMSetTraceFile(nullptr);
    EXPECT_EQ(lookups.n, 2);
    EXPECT_THAT(trace_text(),
                HasSubstr("Warning (COMConnectToServerSock): Host no-such-host.invalid not found "
                          "in /etc/hosts. \nPlease add it and try again.\nPrint error stack:\n"
                          "ERR> 3, 1, RazIvu function COMConnectToServerSock:  No error text "
                          "available.\n"));
}

TEST(RememberedHost, empty_missing_and_over_long_names_are_not_found_whatever_is_remembered) {
    NetCallsGuard guard;
    count_lookups();
    platform::net_calls().host_address = [](const char *, uint32_t *addr) {
        ++lookups.n;
        *addr = htonl(INADDR_LOOPBACK);
        return 0;
    };
    razivu::test::use_test_port(razivu::test::free_port());
    const std::string longest(95, 'h');
    const std::string one_more = longest + "x";
    struct Row {
        const char *host;
        int lookups;
        const char *why;
    };
    const Row rows[] = {
        {longest.c_str(), 1, "95 characters are looked up"},
        {"", 0, "empty"},
        {nullptr, 0, "missing"},
        {one_more.c_str(), 0, "96 characters would be cut into the remembered name"},
    };
    for (const Row &row : rows) {
        COMConnectToServerSock(longest.c_str(), COMGetServiceName());  // remember it
        razivu::test::pop_all();
        lookups.n = 0;
        if (row.lookups == 1) {
            COMConnectToServerSock(one_more.c_str(), COMGetServiceName());  // forget it
            razivu::test::pop_all();
            lookups.n = 0;
        }
        EXPECT_EQ(COMConnectToServerSock(row.host, COMGetServiceName()), -1) << row.why;
        EXPECT_EQ(lookups.n, row.lookups) << row.why;
        const auto pushed = pushes();
        if (row.lookups == 0) {
            EXPECT_THAT(pushed, ElementsAre("1 COMConnectToServerSock")) << row.why;
        }
    }
}

// ---- Reading ----------------------------------------------------------------------------------

TEST(ReadSock, a_count_of_0_returns_at_once_pushes_nothing_and_traces_0) {
    Connection c;
    char buf[4];
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReadSock(c.client, buf, 0, 0), 0);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(trace_text(), "< Bytes: 0\nPrint error stack:\nError stack printed.\n\n");
}

TEST(ReadSock, collects_data_that_arrives_in_many_small_segments) {
    Connection c;
    std::string sent;
    for (int i = 0; i < 40; ++i) {
        sent += static_cast<char>('A' + i % 26);
    }
    std::thread peer([&] {
        for (char ch : sent) {
            razivu::test::raw_send(c.server, std::string(1, ch));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string got(sent.size(), '\0');
    EXPECT_EQ(COMReadSock(c.client, got.data(), static_cast<int32_t>(got.size()), 0), 40);
    peer.join();
    EXPECT_EQ(got, sent);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(ReadSock, a_peer_closing_mid_count_gives_the_bytes_code_11_and_a_closed_socket) {
    Connection c;
    razivu::test::raw_send(c.server, "12345");
    ::close(c.server);
    c.server = -1;
    char buf[12] = {};
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReadSock(c.client, buf, 12, 0), 5);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(std::string(buf, 5), "12345");
    EXPECT_THAT(trace_text(), HasSubstr("< Bytes: 5\nPrint error stack:\nERR> 3, 11, RazIvu "
                                        "function COMReadSock:  Operation failed.\n"));
    EXPECT_TRUE(razivu::transport::is_retired(c.client));
}

TEST(ReadSock, a_failing_recv_pushes_a_system_error_and_closes) {
    Connection c;
    NetCallsGuard guard;
    platform::net_calls().recv = [](int32_t, char *, int32_t, int32_t) {
        errno = ECONNRESET;
        return -1;
    };
    char buf[8];
    EXPECT_EQ(COMReadSock(c.client, buf, 8, 0), -1);
    const auto records = razivu::test::pop_all();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, ECONNRESET);
    EXPECT_THAT(records[0].text, HasSubstr("system function COMReadSock:  "));
    EXPECT_TRUE(razivu::transport::is_retired(c.client));
}

TEST(ReadSock, bad_arguments_are_refused_and_the_socket_stays_open) {
    Connection c;
    char buf[4];
    EXPECT_EQ(COMReadSock(c.client, buf, -1, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, nullptr, 4, 0), -1);
    EXPECT_EQ(COMWriteSock(c.client, nullptr, 4, 0), -1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMReadSock", "sys COMReadSock", "sys COMWriteSock"));
    EXPECT_FALSE(razivu::transport::is_retired(c.client));
}

// ---- Writing ----------------------------------------------------------------------------------

TEST(WriteSock, sends_the_whole_count_and_traces_it) {
    Connection c;
    char data[] = "hello, peer";
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMWriteSock(c.client, data, 11, 0), 11);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(razivu::test::raw_recv(c.server, 11), "hello, peer");
    EXPECT_THAT(trace_text(), HasSubstr("> Bytes: 11\n"));
}

TEST(WriteSock, a_partial_send_fails_and_closes_without_sending_the_rest) {
    Connection c;
    NetCallsGuard guard;
    static int sends = 0;
    sends = 0;
    platform::net_calls().send = [](int32_t, const char *, int32_t n, int32_t) {
        ++sends;
        return n / 2;
    };
    char data[] = "0123456789";
    EXPECT_EQ(COMWriteSock(c.client, data, 10, 0), -1);
    EXPECT_EQ(sends, 1);
    EXPECT_THAT(pushes(), ElementsAre("sys COMWriteSock"));
    EXPECT_TRUE(razivu::transport::is_retired(c.client));
}

TEST(WriteSock, a_peer_that_vanished_fails_the_write_without_a_signal) {
    Connection c;
    ::close(c.server);
    c.server = -1;
    std::string big(1 << 20, 'x');
    int32_t rc = 0;
    for (int i = 0; i < 50 && rc >= 0; ++i) {
        rc = COMWriteSock(c.client, big.data(), 1000, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(rc, -1);
    const auto records = razivu::test::pop_all();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].code == EPIPE || records[0].code == ECONNRESET) << records[0].text;
}

// ---- Closing twice ------------------------------------------------------------------------------

TEST(CloseSock, after_the_transport_closed_a_socket_its_reused_number_is_left_alone) {
    Connection c;
    ::close(c.server);
    c.server = -1;
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);  // closed by the transport
    razivu::test::pop_all();

    const std::string path = razivu::test::root() + "/work/unrelated.txt";
    razivu::test::write_file(path, "keep me");
    const int file = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(file, c.client) << "Linux hands out the lowest free number";

    EXPECT_EQ(COMWriteSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMReadSock(c.client, buf, 4, 0), -1);
    EXPECT_EQ(COMPollSock(c.client, 0), -1);
    EXPECT_EQ(COMCloseSock(c.client), -1);
    const auto records = razivu::test::pop_all();
    ASSERT_EQ(records.size(), 4u);
    for (const auto &r : records) {
        EXPECT_EQ(r.kind, RAZIVU_KIND_SYSTEM);
        EXPECT_EQ(r.code, EBADF);
    }
    EXPECT_TRUE(razivu::test::fd_open(file)) << "the unrelated file was closed";
    char text[8] = {};
    EXPECT_EQ(::read(file, text, 7), 7) << "and nothing was read from it";
    EXPECT_FALSE(razivu::transport::is_retired(c.client)) << "the caller's close released it";
    ::close(file);
    c.client = -1;
}

TEST(CloseSock, a_number_the_library_opens_again_is_served_normally) {
    Connection c;
    ::close(c.server);
    c.server = -1;
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);  // closed by the transport
    const int32_t again = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    ASSERT_EQ(again, c.client) << "Linux hands out the lowest free number";
    razivu::test::pop_all();
    const int peer = c.listener.accept_one();
    char data[] = "ok";
    EXPECT_EQ(COMWriteSock(again, data, 2, 0), 2);
    EXPECT_EQ(razivu::test::raw_recv(peer, 2), "ok");
    EXPECT_EQ(COMCloseSock(again), 0);
    EXPECT_THAT(pushes(), IsEmpty());
    ::close(peer);
    c.client = -1;
}

TEST(CloseSock, handles_the_library_never_saw_are_closed_as_asked) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(COMCloseSock(fds[0]), 0);
    EXPECT_FALSE(razivu::test::fd_open(fds[0]));
    ::close(fds[1]);
}

// ---- COMSend and COMReceive -------------------------------------------------------------------

TEST(SendReceive, the_dump_stops_at_a_NUL_but_every_byte_is_sent) {
    Connection c;
    char data[] = {'a', 'b', '\0', 'c', 'd'};
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMSend(c.client, data, 5), 5);
    COMSetTraceFile(nullptr);
    EXPECT_EQ(razivu::test::raw_recv(c.server, 5), std::string(data, 5));
    EXPECT_THAT(trace_text(), HasSubstr("DEBUG: (COMSend) buffer <ab>\n"));
}

TEST(SendReceive, receive_dumps_what_the_buffer_holds_also_after_a_short_read) {
    Connection c;
    razivu::test::raw_send(c.server, "r00010|");
    ::close(c.server);
    c.server = -1;
    char buf[16] = {};
    COMSetTraceFile(trace_path);
    EXPECT_EQ(COMReceive(c.client, buf, 10), 7);
    COMSetTraceFile(nullptr);
    EXPECT_THAT(trace_text(), HasSubstr("< Bytes: 7\n"));
    EXPECT_THAT(trace_text(), HasSubstr("DEBUG: (COMReceive) buffer <r00010|>\n"));
}

bool readable_within(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

TEST(SendReceive, a_piece_with_more_to_follow_waits_for_the_final_one) {
    Connection c;
    std::string first(900, 'a');
    std::string last(100, 'z');
    razivu::transport::message_continues(c.client, first.data(), 900);
    EXPECT_EQ(COMSend(c.client, first.data(), 900), 900);
    EXPECT_FALSE(readable_within(c.server, 50)) << "the first piece left on its own";
    EXPECT_EQ(COMSend(c.client, last.data(), 100), 100);
    ASSERT_TRUE(readable_within(c.server, 1000));
    EXPECT_EQ(razivu::test::raw_recv(c.server, 1000), first + last);
    EXPECT_THAT(pushes(), IsEmpty());
}

TEST(SendReceive, a_message_left_unfinished_leaves_when_the_sender_waits) {
    Connection c;
    std::string piece(500, 'p');
    razivu::transport::message_continues(c.client, piece.data(), 500);
    EXPECT_EQ(COMSend(c.client, piece.data(), 500), 500);
    EXPECT_FALSE(readable_within(c.server, 50));
    EXPECT_EQ(COMPollSock(c.client, 0), RAZIVU_POLL_TIMEOUT);
    ASSERT_TRUE(readable_within(c.server, 1000));
    EXPECT_EQ(razivu::test::raw_recv(c.server, 500), piece);
}

TEST(SendReceive, only_the_announced_piece_may_wait) {
    Connection c;
    std::string piece(500, 'p');
    razivu::transport::message_continues(c.client, piece.data(), 499);  // not this count
    EXPECT_EQ(COMSend(c.client, piece.data(), 500), 500);
    EXPECT_TRUE(readable_within(c.server, 1000));
    EXPECT_EQ(razivu::test::raw_recv(c.server, 500), piece);
}

TEST(SendReceive, a_socket_of_the_callers_own_is_never_held_back) {
    RawListener listener;
    const int mine = razivu::test::raw_connect(listener.port);
    const int server = listener.accept_one();
    char data[] = "r00010|";
    razivu::transport::message_continues(mine, data, 7);
    EXPECT_EQ(COMSend(mine, data, 7), 7);
    EXPECT_TRUE(readable_within(server, 1000));
    ::close(server);
    ::close(mine);
}

TEST(SendReceive, the_dump_of_a_long_buffer_holds_999_characters) {
    const std::string big(1500, 'z');
    char dump[razivu::transport::dump_cap];
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), 1500, dump)),
              std::string(999, 'z'));
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), 3, dump)), "zzz");
    EXPECT_EQ(std::string(razivu::transport::dump_text(nullptr, 3, dump)), "");
    EXPECT_EQ(std::string(razivu::transport::dump_text(big.c_str(), -1, dump)), "");
}

}  // namespace
