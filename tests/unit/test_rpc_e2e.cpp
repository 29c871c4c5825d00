// Whole remote calls over 127.0.0.1: the message layer on the transport, the
// bytes on the wire, and two processes built on the library talking to each
// other.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "razivu/lib/transport_internal.h"

namespace {

using razivu::test::pushes;
using razivu::test::RawListener;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The worked example: Echo("abc", null, 42, 1, {0, 255}).
const std::string echo_call = std::string("#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|") +
                              std::string("\x00\xff|", 3);
const std::string echo_reply = "r00010|" + echo_call.substr(12);

void pack_worked_example() {
    ResetBuffer();
    PackFunctionName("Echo");
    PackString("abc");
    PackString(nullptr);
    PackInteger(42);
    PackBoolean(1);
    const char bytes[] = {0, static_cast<char>(0xFF)};
    PackByteArray(bytes, 2);
    SendBuffer();
}

int32_t connect_client(uint16_t port) {
    razivu::test::use_test_port(port);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    SetTransport(COMSend, COMReceive, s);
    razivu::test::pop_all();
    return s;
}

TEST(Client, the_worked_example_crosses_the_wire_byte_for_byte) {
    RawListener listener;
    std::string received;
    std::thread server([&] {
        const int fd = listener.accept_one();
        received = razivu::test::raw_recv(fd, echo_call.size());
        razivu::test::raw_send(fd, "r00010|i00001|3|");
        ::close(fd);
    });
    const int32_t s = connect_client(listener.port);
    pack_worked_example();
    ResetBuffer();
    int32_t code = 0;
    int32_t value = 0;
    EXPECT_EQ(UnpackReturnCode(&code), 0);
    EXPECT_EQ(UnpackInteger(&value), 0);
    server.join();
    EXPECT_EQ(received, echo_call);
    EXPECT_EQ(code, 10);
    EXPECT_EQ(value, 3);
    EXPECT_THAT(pushes(), IsEmpty());
    COMCloseSock(s);
}

// Decodes an Echo call from the connection and sends the worked reply.
void serve_worked_example(int32_t conn) {
    SetTransport(COMSend, COMReceiveWithTimeout, conn);
    char *name = nullptr;
    char *text = nullptr;
    char *null_text = nullptr;
    int32_t number = 0;
    int32_t flag = 0;
    char *bytes = nullptr;
    int32_t count = 0;
    ASSERT_EQ(UnpackFunctionName(&name), 0);
    ASSERT_EQ(UnpackString(&text), 0);
    ASSERT_EQ(UnpackString(&null_text), 0);
    ASSERT_EQ(UnpackInteger(&number), 0);
    ASSERT_EQ(UnpackBoolean(&flag), 0);
    ASSERT_EQ(UnpackByteArray(&bytes, &count), 0);
    EXPECT_STREQ(name, "Echo");
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(null_text, nullptr);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::string(bytes, 2), std::string("\x00\xff", 2));
    ResetBuffer();
    PackReturnCode(10);
    PackString(text);
    PackString(null_text);
    PackInteger(number);
    PackBoolean(flag);
    PackByteArray(bytes, count);
    SendBuffer();
    for (void *block : {static_cast<void *>(name), static_cast<void *>(text),
                        static_cast<void *>(bytes)}) {
        UnpackFree(block);
    }
}

TEST(Server, answers_the_worked_example_from_a_client_that_sends_it_in_small_segments) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    ASSERT_GE(listening, 0);
    std::string reply;
    std::thread client([&] {
        const int fd = razivu::test::raw_connect(port);
        for (char ch : echo_call) {
            razivu::test::raw_send(fd, std::string(1, ch));
        }
        reply = razivu::test::raw_recv(fd, echo_reply.size() + 1);  // one more: none comes
        ::close(fd);
    });
    const int32_t conn = COMWaitForConnectingSock(listening);
    serve_worked_example(conn);
    COMCloseSock(conn);
    client.join();
    EXPECT_EQ(reply, echo_reply);
    COMCloseSock(listening);
}

TEST(Server, a_client_that_closes_mid_field_fails_the_decoder_after_the_transport) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    std::thread client([&] {
        const int fd = razivu::test::raw_connect(port);
        razivu::test::raw_send(fd, "#00004|Echo|s00010|abc");
        ::close(fd);
    });
    const int32_t conn = COMWaitForConnectingSock(listening);
    client.join();
    SetTransport(COMSend, COMReceive, conn);
    razivu::test::pop_all();
    char *name = nullptr;
    char *text = nullptr;
    ASSERT_EQ(UnpackFunctionName(&name), 0);
    EXPECT_EQ(UnpackString(&text), -1);
    EXPECT_EQ(text, nullptr);
    EXPECT_THAT(pushes(), ElementsAre("11 COMReadSock", "54 unpack_string", "54 UnpackString"));
    EXPECT_TRUE(razivu::transport::is_retired(conn));
    UnpackFree(name);
    COMCloseSock(listening);
}

// ---- Two processes ------------------------------------------------------------------------------

// The test protocol of "Blobs": a count, then that many byte arrays; the reply
// is code 10, the count, and the arrays in reverse order. Big arrays make
// every message leave in several pieces.
constexpr int32_t blob_len = 900;
constexpr int32_t blobs_per_call = 9;
constexpr int32_t calls_per_connection = 5;

std::string blob(int32_t call, int32_t i) {
    std::string b(blob_len, '\0');
    for (int32_t k = 0; k < blob_len; ++k) {
        b[static_cast<std::size_t>(k)] = static_cast<char>((call * 31 + i * 7 + k) & 0xFF);
    }
    return b;
}

// Serves calls_per_connection calls on one connection; exit status 0 when
// every call decoded.
int blob_server(int32_t listening) {
    const int32_t conn = COMWaitForConnectingSock(listening);
    SetTransport(COMSend, COMReceive, conn);
    for (int32_t call = 0; call < calls_per_connection; ++call) {
        char *name = nullptr;
        int32_t n = 0;
        if (UnpackFunctionName(&name) != 0 || std::strcmp(name, "Blobs") != 0 ||
            UnpackInteger(&n) != 0 || n != blobs_per_call) {
            return 1;
        }
        UnpackFree(name);
        std::vector<std::string> got;
        for (int32_t i = 0; i < n; ++i) {
            char *bytes = nullptr;
            int32_t count = 0;
            if (UnpackByteArray(&bytes, &count) != 0) {
                return 2;
            }
            got.emplace_back(bytes, static_cast<std::size_t>(count));
            UnpackFree(bytes);
        }
        ResetBuffer();
        PackReturnCode(10);
        PackInteger(n);
        for (auto it = got.rbegin(); it != got.rend(); ++it) {
            PackByteArray(it->data(), static_cast<int32_t>(it->size()));
        }
        SendBuffer();
    }
    COMCloseSock(conn);
    return 0;
}

TEST(TwoProcesses, exchange_multi_piece_calls_and_replies_on_one_connection) {
    const uint16_t port = razivu::test::free_port();
    razivu::test::use_test_port(port);
    const int32_t listening = COMDoMakeListenSock();
    ASSERT_GE(listening, 0);
    const pid_t server = razivu::test::run_child([&] { return blob_server(listening); });
    COMCloseSock(listening);

    const int32_t s = connect_client(port);
    ASSERT_GE(s, 0);
    for (int32_t call = 0; call < calls_per_connection; ++call) {
        ResetBuffer();
        PackFunctionName("Blobs");
        PackInteger(blobs_per_call);
        for (int32_t i = 0; i < blobs_per_call; ++i) {
            const std::string b = blob(call, i);
            PackByteArray(b.data(), blob_len);
        }
        SendBuffer();
        ResetBuffer();
        int32_t code = 0;
        int32_t n = 0;
        ASSERT_EQ(UnpackReturnCode(&code), 0);
        ASSERT_EQ(UnpackInteger(&n), 0);
        ASSERT_EQ(n, blobs_per_call);
        for (int32_t i = blobs_per_call - 1; i >= 0; --i) {
            char *bytes = nullptr;
            int32_t count = 0;
            ASSERT_EQ(UnpackByteArray(&bytes, &count), 0);
            EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(count)), blob(call, i));
            UnpackFree(bytes);
        }
    }
    EXPECT_THAT(pushes(), IsEmpty());
    COMCloseSock(s);
    EXPECT_EQ(razivu::test::wait_child(server), 0);
}

}  // namespace
