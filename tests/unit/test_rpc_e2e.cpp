// Whole remote calls over 127.0.0.1: the message layer on the transport and
// the bytes on the wire. Two processes built on the library, with messages in
// several pieces, meet in the load test of `razivu serve`.
#include <chrono>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "razivu/lib/transport_internal.h"

namespace {

namespace test = razivu::test;
using test::pushes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The worked example: Echo("abc", null, 42, 1, {0, 255}).
const std::string echo_call = std::string("#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|") +
                              std::string("\x00\xff|", 3);
const std::string echo_reply = "r00010|" + echo_call.substr(12);

int32_t connect_client(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    SetTransport(COMSend, COMReceive, s);
    test::pop_all();
    return s;
}

int32_t listen_on(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMDoMakeListenSock();
    test::pop_all();
    return s;
}

TEST(Client, the_worked_example_crosses_the_wire_byte_for_byte) {
    test::RawListener listener;
    std::string received;
    std::thread server([&] {
        const int fd = listener.accept_one();
        received = test::raw_recv(fd, echo_call.size());
        test::raw_send(fd, "r00010|i00001|3|");
        ::close(fd);
    });
    const int32_t s = connect_client(listener.port);
    ResetBuffer();
    PackFunctionName("Echo");
    PackString("abc");
    PackString(nullptr);
    PackInteger(42);
    PackBoolean(1);
    PackByteArray("\x00\xff", 2);
    SendBuffer();
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

}  // namespace
