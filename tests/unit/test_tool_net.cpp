// `razivu call` and `razivu proxy` against servers that misbehave on
// purpose: a raw-socket server of a few lines answers each connection with a
// script, and the tool runs as a process of its own, as a user runs it.
#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.h"
#include "support/test_env.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
using ::testing::HasSubstr;
using namespace std::string_literals;

// The time-out the hostile cases run with, and how much later than it the
// tool may end (process start and exit).
constexpr int timeout_seconds = 2;
constexpr double slack_seconds = 1.5;
// A call has arrived once nothing more comes for this long.
constexpr int quiet_ms = 200;
// A script waits at most this long for the tool to hang up.
constexpr int hang_up_wait_ms = 10000;

// Reads until the peer sends nothing for quiet_ms, or closes.
std::string read_call(int fd) {
    std::string got;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, quiet_ms) > 0) {
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// True when the peer closed (its side, at least) within the wait.
bool wait_for_hang_up(int fd, int wait_ms = hang_up_wait_ms) {
    pollfd p{fd, POLLIN, 0};
    char buf[256];
    ssize_t n = 1;
    while (n > 0 && ::poll(&p, 1, wait_ms) > 0) {
        n = ::recv(fd, buf, sizeof buf, 0);
    }
    return n == 0;
}

void reset(int fd) {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

using Script = void (*)(int fd);

// Accepts one connection, takes the call, then runs the script on it.
struct FakeServer {
    test::RawListener listener;
    std::string call;  // what the tool sent
    std::thread thread;

    explicit FakeServer(Script script) {
        thread = std::thread([this, script] {
            const int fd = listener.accept_one();
            call = read_call(fd);
            script(fd);
        });
    }
    ~FakeServer() { thread.join(); }
    std::string port() const { return std::to_string(listener.port); }
};

struct HostileRow {
    const char *name;
    Script script;
    std::vector<std::string> options;
    int status;
    const char *message;
};

// The server scripts of the hostile cases.
void stall_in_header(int fd) {
    test::raw_send(fd, "r00");
    wait_for_hang_up(fd);
    ::close(fd);
}

void stall_in_body(int fd) {
    test::raw_send(fd, "r00010|s00005|ab");
    wait_for_hang_up(fd);
    ::close(fd);
}

// A return code, then integer fields for as long as the tool reads them.
void endless(int fd) {
    test::raw_send(fd, "r00010|");
    while (test::raw_send(fd, "i00001|1|")) {
    }
    ::close(fd);
}

void close_in_body(int fd) {
    test::raw_send(fd, "r00010|s00005|ab");
    ::close(fd);
}

void reset_in_body(int fd) {
    test::raw_send(fd, "r00010|s00005|ab");
    ::usleep(100000);
    reset(fd);
}

void close_at_once(int fd) {
    ::close(fd);
}

void not_a_field(int fd) {
    test::raw_send(fd, "r00010|x00003|abc|");
    ::close(fd);
}

// clang-format off
const HostileRow hostile_rows[] = {
    {"stall in a header", stall_in_header, {}, 4,
     "timed out after 2 s with 3 bytes of the reply in (the field at byte 0 unfinished)"},
    {"stall in a body", stall_in_body, {}, 4,
     "timed out after 2 s with 16 bytes of the reply in (the field at byte 7 unfinished)"},
    {"endless fields", endless, {}, 3, "the reply passed 10000 fields (--max-fields)"},
    {"endless fields, byte limit", endless, {"--max-bytes", "1000"}, 3,
     "the reply passed 1000 bytes (--max-bytes)"},
    {"endless fields, no limit reached", endless,
     {"--max-bytes=100000000", "--max-fields=100000000"}, 4, "timed out after 2 s"},
    {"closed", close_in_body, {}, 3,
     "the server closed the connection with 16 bytes of the reply in (the field at byte 7 unfinished)"},
    {"reset", reset_in_body, {}, 3, "Connection reset by peer with 16 bytes of the reply in"},
    {"closed before replying", close_at_once, {}, 3,
     "the server closed the connection before any reply"},
    {"not a field", not_a_field, {}, 3,
     "the reply holds no field at byte 7 (\"x00003|\"): not a type tag"},
};
// clang-format on

class ToolNet : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::tool_path().empty()) {
            GTEST_SKIP() << "the razivu tool is not built beside the tests";
        }
    }
};

TEST_F(ToolNet, call_ends_with_its_documented_status_within_its_time_out_whatever_the_server_does) {
    for (const HostileRow &row : hostile_rows) {
        FakeServer server(row.script);
        std::vector<std::string> args = {"call", "--timeout=" + std::to_string(timeout_seconds)};
        args.insert(args.end(), row.options.begin(), row.options.end());
        args.insert(args.end(), {"127.0.0.1", server.port(), "SomeFunction", "i:1"});
        const test::ToolRun r = test::run_tool(args);
        EXPECT_EQ(r.status, row.status) << row.name << ": " << r.err;
        EXPECT_THAT(r.err, HasSubstr(row.message)) << row.name;
        EXPECT_LT(r.seconds, timeout_seconds + slack_seconds) << row.name;
        EXPECT_EQ(server.call, "#00012|SomeFunction|i00001|1|") << row.name;
    }
}

TEST_F(ToolNet, a_full_backlog_cannot_hold_the_connect_past_the_time_out) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin = test::loopback_address(0);
    socklen_t len = sizeof sin;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len), 0);
    std::vector<int> queued;  // never accepted: they fill the queue
    for (int i = 0; i < 3; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        const sockaddr_in to = test::loopback_address(ntohs(sin.sin_port));
        ::connect(queued.back(), reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    ::usleep(100000);
    const test::ToolRun r = test::run_tool({"call", "--timeout", "1", "--json", "127.0.0.1",
                                            std::to_string(ntohs(sin.sin_port)), "Echo"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_LT(r.seconds, 1 + slack_seconds);
    const std::string message =
        "timed out after 1 s connecting to 127.0.0.1 " + std::to_string(ntohs(sin.sin_port));
    EXPECT_THAT(r.err, HasSubstr(message));
    EXPECT_THAT(r.out,
                HasSubstr("\"fields\":[\n],\"return_code\":null,\"error\":\"" + message + "\"}\n"));
    for (int q : queued) {
        ::close(q);
    }
    ::close(fd);
}

TEST_F(ToolNet, call_sends_what_its_arguments_say_and_shows_the_reply_three_ways) {
    FakeServer server([](int fd) {
        test::raw_send(fd, "r000");
        ::usleep(50000);  // the reply arrives cut inside a header
        test::raw_send(fd, "61|s00002|\xe9\"|");
        ::close(fd);
    });
    const test::ToolRun r = test::run_tool({"call", "-v", "127.0.0.1", server.port(), "Fn",
                                            "s:null", "s:\\null", "s:\\\\null", "a:00ff"});
    EXPECT_EQ(server.call, "#00002|Fn|s-0001|s00004|null|s00005|\\null|a00002|" +
                               std::string("\0\xff", 2) + "|");
    EXPECT_EQ(r.status, 1) << "a reply with return code 61";
    EXPECT_EQ(
        r.out,
        "return   61 (No matching COMrpc function found at server.)\nstring   \"\\xe9\\\"\"\n");
    EXPECT_THAT(
        r.err,
        HasSubstr("> 0        #00002|Fn|s-0001|s00004|null|s00005|\\\\null|a00002|\\x00\\xff|\n"));
    EXPECT_THAT(r.err, HasSubstr("< 0        r000\n< 4        61|s00002|\\xe9\"|\n"));

    FakeServer again([](int fd) {
        test::raw_send(fd, "r00010|s00002|\xe9\"|");
        ::close(fd);
    });
    const test::ToolRun json = test::run_tool({"call", "--json", "127.0.0.1", again.port(), "Fn"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(
        json.out,
        "{\"host\":\"127.0.0.1\",\"target\":\"" + again.port() +
            "\",\"function\":\"Fn\",\"fields\":[\n"
            "{\"offset\":0,\"kind\":\"return\",\"value\":10,\"text\":\"Call was successful.\"},\n"
            "{\"offset\":7,\"kind\":\"string\",\"value\":\"\\u00e9\\\"\"}\n"
            "],\"return_code\":10,\"error\":null}\n");
}

TEST_F(ToolNet, the_real_cause_survives_the_trace) {
    const std::string trace = test::root() + "/work/trace.txt";
    for (const auto &[host, cause] : {std::pair{"127.0.0.1", "Connection refused"},
                                      std::pair{"no-such-host.invalid", "host not found"}}) {
        for (const bool traced : {false, true}) {
            const test::ToolRun r = test::run_tool(
                {"call", host, std::to_string(test::free_port()), "Echo"}, {},
                traced ? std::vector<std::pair<std::string, std::string>>{{"RAZIVU_DEBUG", trace}}
                       : std::vector<std::pair<std::string, std::string>>{});
            EXPECT_EQ(r.status, 3) << host << (traced ? " traced" : "");
            EXPECT_THAT(r.err, HasSubstr(std::string(": ") + cause + "\n"))
                << host << (traced ? " traced" : "");
        }
    }
}

// ---- proxy -------------------------------------------------------------------------------

// Connects to the proxy once it listens (the first connection it accepts).
int connect_when_listening(uint16_t port) {
    for (int i = 0; i < 100; ++i, ::usleep(50000)) {
        if (const int fd = test::raw_connect(port); fd >= 0) {
            return fd;
        }
    }
    return -1;
}

TEST_F(ToolNet, proxy_relays_every_byte_unchanged_and_prints_both_directions) {
    // A call cut inside a field and half-closed after it, a reply cut inside
    // a field: the server must see exactly the client's bytes, end-of-file
    // included, and the client exactly the server's.
    static const std::string call = "#00004|Echo|s00003|abc|a00002|\0\xff|"s;
    static const std::string reply = "r00010|s00003|abc|a00002|\0\xff|x00000|"s;
    FakeServer server([](int fd) {
        if (!wait_for_hang_up(fd, quiet_ms)) {
            ::close(fd);  // no end-of-file: the half-close did not come through
            return;
        }
        test::raw_send(fd, reply.substr(0, 16));  // cut inside the string's data
        ::usleep(50000);
        test::raw_send(fd, reply.substr(16));
        ::close(fd);
    });
    const uint16_t port = test::free_port();
    auto proxy = std::async(std::launch::async, [&] {
        return test::run_tool(
            {"proxy", "--once", std::to_string(port), "127.0.0.1", server.port()});
    });
    const int client = connect_when_listening(port);
    ASSERT_GE(client, 0);
    test::raw_send(client, call.substr(0, 15));  // cut inside the string's header
    ::usleep(50000);
    test::raw_send(client, call.substr(15, 5));  // and inside its data
    ::usleep(50000);
    test::raw_send(client, call.substr(20));
    ::shutdown(client, SHUT_WR);
    EXPECT_EQ(test::raw_recv(client, 1000), reply);
    ::close(client);
    const test::ToolRun r = proxy.get();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.call, call);
    for (const char *line :
         {" call  0        function \"Echo\"\n", " call  12       string   \"abc\"\n",
          " call  23       bytes    00ff (2 bytes)\n", " the client closed its side\n",
          " reply 0        return   10 (Call was successful.)\n",
          " reply 18       bytes    00ff (2 bytes)\n",
          " reply relayed, no longer decoded: no field at byte 28 (\"x00000|\"): not a type tag\n",
          " closed: 33 bytes of calls, 35 bytes of replies\n"}) {
        EXPECT_THAT(r.out, HasSubstr(line));
    }
}

}  // namespace
