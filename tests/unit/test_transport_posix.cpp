// The transport on Linux alone: descriptor numbers the system hands out
// again, a signal while a read waits, and pieces that MSG_MORE holds in the
// socket. Windows numbers its sockets apart from files and has neither
// signals of this kind nor MSG_MORE.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "rpc/transport_internal.h"
#include "support/test_env.h"

namespace {

namespace test = razivu::test;
namespace transport = razivu::transport;
using test::Connection;
using test::popped_codes;
using test::pushes;
using transport::is_retired;
using ::testing::IsEmpty;
using Codes = std::vector<int32_t>;
using Lines = std::vector<std::string>;

// A signal whose handler does not restart calls arrives while a read waits;
// a hang-up then reads as readable.
TEST(Poll, a_read_outlasts_a_signal_and_a_hang_up_reads_as_readable) {
    Connection c;
    char buf[3];
    struct sigaction quiet {}, before {};
    quiet.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &quiet, &before);
    ::alarm(1);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        test::raw_send(c.server, "abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.hang_up();
    });
    EXPECT_EQ(COMReadSock(c.client, buf, 3, 0), 3);
    EXPECT_EQ(COMPollSock(c.client, 3), RAZIVU_POLL_READABLE);
    late.join();
    ::sigaction(SIGALRM, &before, nullptr);
    EXPECT_THAT(pushes(), IsEmpty());
    EXPECT_FALSE(is_retired(c.client));
}

// Lets the transport close c's client socket itself, as after a failure.
void retire(Connection &c) {
    c.hang_up();
    char buf[4];
    ASSERT_EQ(COMReadSock(c.client, buf, 4, 0), 0);
    test::pop_all();
}

// A file on the number is no socket: every operation is refused and the file
// left alone. A handle the library never saw is closed as asked.
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
    EXPECT_EQ(pushes(), (Lines{"sys COMWriteSock", "sys COMReadSock", "sys COMPollSock", "sys COMCloseSock"}));
    char text[8] = {};
    EXPECT_EQ(::read(file, text, 7), 7) << "the unrelated file was closed or read from";
    EXPECT_FALSE(is_retired(c.client)) << "the caller's close released it";
    ::close(file);
    c.client = -1;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(COMCloseSock(fds[0]), 0) << "a handle the library never saw";
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
    ::close(fds[1]);
}

// A new socket on a retired number: the library's own is its own; other
// code's goes to whoever uses it first. A read or write is the new owner's
// and is served; a close is the old caller's late one and is refused, leaving
// the new socket open.
TEST(CloseSock, a_retired_number_that_names_a_new_socket_goes_to_whoever_uses_it_first) {
    for (const std::string first : {"write", "close", "the library's close"}) {
        Connection c;
        retire(c);
        const bool own = first == "the library's close";
        const int mine =
            own ? COMConnectToServerSock("127.0.0.1", COMGetServiceName()) : test::raw_connect(c.listener.port);
        ASSERT_EQ(mine, c.client) << "Linux hands out the lowest free number";
        const int peer = c.listener.accept_one();
        test::pop_all();
        if (first != "write") {
            EXPECT_EQ(COMCloseSock(mine), own ? 0 : -1) << first;
            EXPECT_EQ(popped_codes(), own ? Codes{} : Codes{EBADF}) << first;
            EXPECT_EQ(::fcntl(mine, F_GETFD) == -1, own) << first;
        }
        char data[] = "ok";
        if (!own) {
            EXPECT_EQ(COMWriteSock(mine, data, 2, 0), 2) << first;
            EXPECT_EQ(test::raw_recv(peer, 2), "ok");
            EXPECT_EQ(COMCloseSock(mine), 0);
        }
        EXPECT_THAT(pushes(), IsEmpty());
        ::close(peer);
        c.client = -1;
    }
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
             EXPECT_TRUE(test::readable_within(c.server, 100)) << "held while the read waits";
             test::raw_send(c.server, "r");
             reader.join();
         }},
    };
    std::string first(900, 'a');
    for (const auto &[what, release] : rows) {
        Connection c;
        EXPECT_EQ(transport::write_piece(c.client, first.data(), 900, 0, true), 900);
        EXPECT_FALSE(test::readable_within(c.server, 50)) << what << ": the first piece left on its own";
        release(c);
        EXPECT_TRUE(test::readable_within(c.server, 100)) << what;
        EXPECT_EQ(test::raw_recv(c.server, 900), first) << what;
        EXPECT_THAT(pushes(), IsEmpty());
    }
    test::RawListener listener;
    const int mine = test::raw_connect(listener.port);
    const int server = listener.accept_one();
    EXPECT_EQ(transport::write_piece(mine, first.data(), 7, 0, true), 7);
    EXPECT_TRUE(test::readable_within(server, 1000));
    ::close(server);
    ::close(mine);
}

}  // namespace
