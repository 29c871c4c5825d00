// The razivu tool's network commands as a user meets them: `razivu serve` as
// a real process, under load too, and `razivu call` against it, with their
// exit statuses (test_tool.cpp has `dump` and the command line as a whole).
#include <cstdio>
#include <poll.h>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "support/memory_transport.h"
#include "support/test_env.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
using ::testing::HasSubstr;

using test::run_tool_line;
using test::ServeProcess;
using test::Tool;
using test::ToolRun;

class ToolWithServer : public Tool {
protected:
    void SetUp() override {
        Tool::SetUp();
        ASSERT_TRUE(IsSkipped() || server.start());
    }
    ToolRun call(const std::string &args) {
        return run_tool_line("call 127.0.0.1 " + std::to_string(server.port) + " " + args);
    }
    // Sends raw bytes on a connection of its own and reads n reply bytes.
    std::string exchange(const std::string &bytes, std::size_t n) {
        const int fd = test::raw_connect(server.port);
        test::raw_send(fd, bytes);
        std::string reply = test::raw_recv(fd, n);
        ::close(fd);
        return reply;
    }
    ServeProcess server;
};

TEST_F(ToolWithServer, call_prints_every_field_of_an_echo_reply) {
    const ToolRun r = call("Echo 's:a|b\"c' s:null i:42 b:1 a:00ff7c a:null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "return   10 (Call was successful.)\nstring   \"a|b\\\"c\"\nstring   null\ninteger  42\n"
                     "boolean  1\nbytes    00ff7c (3 bytes)\nbytes    null\n");
}

TEST_F(ToolWithServer, calendar_and_unknown_functions_answer_with_their_documented_fields) {
    struct Row {
        const char *args;
        const char *reply;
        int status;
    };
    const Row rows[] = {
        {"VIZIIsLeapYear i:2000", "return   10 (Call was successful.)\ninteger  1\n", 0},
        {"VIZIGetDaysSince1900 i:31 i:12 i:1999", "return   10 (Call was successful.)\ninteger  36524\n", 0},
        {"VIZIGetDMYFromDaysSince1900 i:36525",
         "return   10 (Call was successful.)\ninteger  0\ninteger  1\ninteger  1\ninteger  2000\n", 0},
        {"VIZIGetDaysSince1900 i:1 i:1 i:30000", "return   22 (Length of data is too long.)\n", 1},  // eight digits
        {"VIZIIsLeapYear s:2000", "return   20 (Some parameter(s) not supported.)\n", 1},
        {"NoSuchFunction i:1 s:x", "return   61 (No matching COMrpc function found at server.)\n", 1},
    };
    for (const Row &row : rows) {
        const ToolRun r = call(row.args);
        EXPECT_EQ(r.out, row.reply) << row.args;
        EXPECT_EQ(r.status, row.status) << row.args;
    }
}

TEST_F(ToolWithServer, calls_sent_back_to_back_are_answered_in_order_and_in_pieces) {
    // Over 999 bytes each way: the call and the reply travel in several pieces.
    const std::string blobs = "a00900|" + std::string(900, '\xA5') + "|a00900|" + std::string(900, '|') + "|";
    const std::string calls = "#00004|Echo|" + blobs +
                              "#00014|NoSuchFunction|s00001|x|"
                              "#00020|VIZIGetDaysSince1900|i00001|1|"  // cut short: r 20
                              "#00014|VIZIIsLeapYear|i00004|2004|";
    const std::string replies = "r00010|" + blobs + "r00061|r00020|r00010|i00001|1|";
    EXPECT_EQ(exchange(calls, replies.size()), replies);
}

TEST_F(ToolWithServer, answers_garbage_and_unechoable_calls_by_hanging_up) {
    EXPECT_EQ(exchange("GET / HTTP/1.0\r\n\r\n", 100), "") << "disconnected, nothing sent";
    EXPECT_EQ(exchange("s00003|abc|", 100), "") << "arguments without a call";
    EXPECT_EQ(exchange("#00004|Echo|s00995|" + std::string(995, 'x') + "|", 100), "")
        << "a text too long to echo ends the connection rather than the reply short";
    EXPECT_EQ(call("Echo i:5").out, "return   10 (Call was successful.)\ninteger  5\n");
}

TEST_F(ToolWithServer, bad_arguments_are_refused_before_anything_is_sent) {
    const std::pair<const char *, const char *> rows[] = {
        {"Echo x:1", "unknown kind"},
        {"Echo b:12", "b: takes one digit"},
        {"Echo i:12x", "i: takes a 32-bit decimal integer"},
        {"Echo a:0f0", "a: takes pairs of hex digits"},
        {"Echo i:12345678", "cannot travel in the wire format"},
    };
    for (const auto &[args, message] : rows) {
        const ToolRun r = call(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_THAT(r.out, HasSubstr(message)) << args;
    }
}

TEST_F(Tool, call_and_serve_report_what_they_cannot_reach_or_use) {
    ToolRun r = run_tool_line("call 127.0.0.1 " + std::to_string(test::free_port()) + " Echo");
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.out, HasSubstr("Connection refused"));
    r = run_tool_line("call no-such-host.invalid 4000 Echo");
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.out, HasSubstr("host not found"));
    r = run_tool_line(std::string("serve ") + test::unknown_service);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("cannot listen"));
    for (const char *args : {"call", "call 127.0.0.1 70000 Echo", "serve one two",
                             "serve --port 4000 --bogus", "dump one two"}) {
        EXPECT_EQ(run_tool_line(args).status, 2) << args;
    }
}

// ---- Under load ----------------------------------------------------------------------
//
// Clients make Echo calls and check every reply byte, while others hang up
// mid-call, stall and send garbage. The clients use the library, whose state
// is per process, so each runs in a process of its own.

constexpr int clients = 6;
constexpr int calls_per_client = 60;
constexpr int calls_per_connection = 20;  // clients reconnect now and then
constexpr int troublemakers = 2;
constexpr int mischief_per_troublemaker = 8;
constexpr int load_deadline_seconds = 60;
constexpr int client_failed = 10;  // exit status of a client with no connection or a wrong reply

// Every field kind, null ones too; the largest array sends call and reply in pieces.
std::vector<razivu_tool::Field> echo_fields(int n) {
    using razivu_tool::Kind;
    return {{Kind::string, 0, "hello", false},   {Kind::string, 0, "", true},
            {Kind::integer, n, "", false},       {Kind::boolean, 1, "", false},
            {Kind::bytes, 0, std::string("\0\xff|", 3), false}, {Kind::bytes, 0, "", true},
            {Kind::bytes, 0, std::string(991, '|'), false}};
}

// Makes Echo call n on s and checks the reply byte for byte.
bool echo(int32_t s, int n) {
    ResetBuffer();
    PackFunctionName("Echo");
    std::string want = "r00010|";
    for (const razivu_tool::Field &f : echo_fields(n)) {
        razivu_tool::pack(f);
        want += test::wire_bytes(f);
    }
    SendBuffer();
    std::string got(want.size(), '\0');
    const auto count = static_cast<int32_t>(got.size());
    return COMReadSock(s, got.data(), count, 0) == count && got == want;
}

int32_t connect_to(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    test::pop_all();
    SetTransport(COMSend, COMReceive, s);
    return s;
}

int client(uint16_t port, int id) {
    for (int n = id * calls_per_client; n < (id + 1) * calls_per_client;) {
        const int32_t s = connect_to(port);
        for (int i = 0; i < calls_per_connection; ++i, ++n) {
            if (s < 0 || !echo(s, n)) {
                return client_failed;
            }
        }
        COMCloseSock(s);
    }
    return 0;
}

// Connections that end badly, in turn: mid-field, garbage, before the reply, after a stall.
int troublemaker(uint16_t port) {
    const std::string call = "#00004|Echo|s00005|hello|i00002|42|";
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>(i * 151 + 7);
    }
    const std::string sent[] = {call.substr(0, 20), garbage, call, call.substr(0, 15)};
    for (int i = 0; i < mischief_per_troublemaker; ++i) {
        const int fd = test::raw_connect(port);
        test::raw_send(fd, sent[i % 4]);
        ::usleep(i % 4 == 3 ? 200000 : 0);
        ::close(fd);
    }
    return 0;
}

using ServeLoad = Tool;

TEST_F(ServeLoad, echo_calls_of_several_clients_are_all_answered_amid_trouble) {
    ServeProcess server;
    ASSERT_TRUE(server.start({"--workers", "8", "--per-address", "8", "--idle", "20"}));
    std::vector<pid_t> pids;
    for (int id = 0; id < clients + troublemakers; ++id) {
        pids.push_back(test::run_child([&server, id] {
            return id < clients ? client(server.port, id) : troublemaker(server.port);
        }));
    }
    for (pid_t pid : pids) {
        EXPECT_EQ(test::wait_child(pid, load_deadline_seconds), 0) << "a client failed or timed out";
    }
    const int32_t s = connect_to(server.port);
    ASSERT_GE(s, 0);
    EXPECT_TRUE(echo(s, -1)) << "the server still answers";
    COMCloseSock(s);
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(ServeLoad, the_worker_bound_holds_a_connection_back_until_one_ends) {
    ServeProcess server;
    ASSERT_TRUE(server.start({"--workers", "1"}));
    const int first = test::raw_connect(server.port);
    ASSERT_TRUE(test::raw_send(first, "#00004|Echo|"));
    EXPECT_EQ(test::raw_recv(first, 7), "r00010|");
    const int second = test::raw_connect(server.port);  // the kernel queues it
    ASSERT_TRUE(test::raw_send(second, "#00004|Echo|i00001|7|"));
    pollfd p{second, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 300), 0) << "served beyond the bound of one worker";
    ::close(first);
    EXPECT_EQ(test::raw_recv(second, 16), "r00010|i00001|7|");
    ::close(second);
}

}  // namespace
