// `razivu call` and `razivu proxy` against servers that misbehave on
// purpose: a raw-socket server of a few lines answers each connection with a
// script, and the tool runs as a process of its own, as a user runs it.
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <poll.h>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tool_process.h"

namespace {

namespace test = razivu::test;
using test::Tool;
using test::ToolRun;
using test::run_tool;
using ::testing::HasSubstr;
using namespace std::string_literals;

// The time-out the hostile cases run with, and how much later than it the
// tool may end (process start and exit, on a loaded machine).
constexpr int timeout_seconds = 2;
constexpr double slack_seconds = 3;
// A script waits at most this long for the tool to hang up.
constexpr int hang_up_wait_ms = 10000;

// Accepts one connection, takes the call (call_len bytes), then runs the
// script on it and closes it.
struct FakeServer {
    test::RawListener listener;
    std::string call;  // what the tool sent
    std::thread thread;

    FakeServer(std::size_t call_len, const std::function<void(int fd)> &script)
        : thread([this, call_len, script] {
              const int fd = listener.accept_one();
              call = test::recv_within(fd, call_len, hang_up_wait_ms);
              script(fd);
              ::close(fd);
          }) {}
    ~FakeServer() { done(); }
    void done() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    // What the tool sent, once the server is done with the connection.
    const std::string &received() {
        done();
        return call;
    }
    std::string port() const { return std::to_string(listener.port); }
};

// What a hostile server does after its first bytes.
enum class Then { stall, close, reset, endless };

struct HostileRow {
    const char *name;
    const char *sent;
    Then then;
    std::vector<std::string> options;
    int status;
    const char *message;
};

void play(int fd, const HostileRow &row) {
    test::raw_send(fd, row.sent);
    if (row.then == Then::stall) {
        test::recv_within(fd, SIZE_MAX, hang_up_wait_ms);  // until the tool hangs up
    } else if (row.then == Then::reset) {
        ::usleep(100000);
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else if (row.then == Then::endless) {
        // Fields of i00001|1| without end, each write ending inside one (as
        // the first does): at a field boundary with nothing more in, the tool
        // would take its time-out for the quiet end of the reply.
        std::string block = "1|1|";
        for (int i = 0; i < 999; ++i) {
            block += "i00001|1|";
        }
        while (test::raw_send(fd, block + "i0000")) {
        }
    }
}

// clang-format off
const HostileRow hostile_rows[] = {
    {"stall in a header", "r00", Then::stall, {}, 4,
     "timed out after 2 s with 3 bytes of the reply in (the field at byte 0 unfinished)"},
    {"stall in a body", "r00010|s00005|ab", Then::stall, {}, 4,
     "timed out after 2 s with 16 bytes of the reply in (the field at byte 7 unfinished)"},
    {"endless fields", "r00010|i0000", Then::endless, {}, 3, "the reply passed 10000 fields (--max-fields)"},
    {"endless fields, byte limit", "r00010|i0000", Then::endless, {"--max-bytes", "1000"}, 3,
     "the reply passed 1000 bytes (--max-bytes)"},
    {"endless fields, no limit reached", "r00010|i0000", Then::endless,
     {"--max-bytes=100000000", "--max-fields=100000000"}, 4, "timed out after 2 s"},
    {"closed", "r00010|s00005|ab", Then::close, {}, 3,
     "the server closed the connection with 16 bytes of the reply in (the field at byte 7 unfinished)"},
    {"reset", "r00010|s00005|ab", Then::reset, {}, 3, "Connection reset by peer with 16 bytes of the reply in"},
    {"closed before replying", "", Then::close, {}, 3, "the server closed the connection before any reply"},
    {"not a field", "r00010|x00003|abc|", Then::close, {}, 3,
     "the reply holds no field at byte 7 (\"x00003|\"): not a type tag"},
};
// clang-format on

TEST_F(Tool, call_ends_with_its_documented_status_within_its_time_out_whatever_the_server_does) {
    const std::string call = "#00012|SomeFunction|i00001|1|";
    for (const HostileRow &row : hostile_rows) {
        FakeServer server(call.size(), [&row](int fd) { play(fd, row); });
        std::vector<std::string> args = {"call", "--timeout=" + std::to_string(timeout_seconds)};
        args.insert(args.end(), row.options.begin(), row.options.end());
        args.insert(args.end(), {"127.0.0.1", server.port(), "SomeFunction", "i:1"});
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.status, row.status) << row.name << ": " << r.err;
        EXPECT_THAT(r.err, HasSubstr(row.message)) << row.name;
        EXPECT_LT(r.seconds, timeout_seconds + slack_seconds) << row.name;
        EXPECT_EQ(server.received(), call) << row.name;
    }
}

TEST_F(Tool, call_sends_what_its_arguments_say_and_shows_the_reply_three_ways) {
    const std::string call = "#00002|Fn|s-0001|s00004|null|s00005|\\null|a00002|\0\xff|i00002|42|b00001|1|a-0001|"s;
    FakeServer server(call.size(), [](int fd) {
        test::raw_send(fd, "r000");
        ::usleep(50000);  // the reply arrives cut inside a header
        test::raw_send(fd, "61|s00002|\xe9\"|");
    });
    const ToolRun r = run_tool({"call", "-v", "127.0.0.1", server.port(), "Fn", "s:null", "s:\\null", "s:\\\\null",
                                "a:00ff", "i:42", "b:1", "a:null"});
    EXPECT_EQ(server.received(), call);
    EXPECT_EQ(r.status, 1) << "a reply with return code 61";
    EXPECT_EQ(r.out, "return   61 (No matching COMrpc function found at server.)\nstring   \"\\xe9\\\"\"\n");
    EXPECT_THAT(r.err, HasSubstr("> 0        #00002|Fn|s-0001|s00004|null|s00005|\\\\null|a00002|\\x00\\xff|i00002|42|b0\n"
                                 "> 64       0001|1|a-0001|\n"));
    EXPECT_THAT(r.err, HasSubstr("< 0        r000\n< 4        61|s00002|\\xe9\"|\n"));

    // The same bytes read as UTF-8 (0xe9 is no character) and as code page
    // 1252, whose texts of the call leave in it too.
    for (const auto &[encoding, sent, value] : {std::tuple{"utf-8", "\xc3\xa9", "\xef\xbf\xbd"},
                                                std::tuple{"cp1252", "\xe9", "\xc3\xa9"}}) {
        const std::string sent_call = "#00002|Fn|s0000"s + std::to_string(std::strlen(sent)) + "|" + sent + "|";
        FakeServer again(sent_call.size(), [](int fd) { test::raw_send(fd, "r00010|s00002|\xe9\"|"); });
        const ToolRun json =
            run_tool({"call", "--json", "--encoding", encoding, "127.0.0.1:" + again.port(), "Fn", "s:\u00e9"});
        EXPECT_EQ(json.status, 0) << json.err;
        EXPECT_EQ(again.received(), sent_call) << encoding;
        EXPECT_EQ(json.out, "{\"server\":\"127.0.0.1:" + again.port() + "\",\"function\":\"Fn\",\"encoding\":\"" +
                                encoding + "\",\"fields\":[\n"
                                "{\"offset\":0,\"kind\":\"return\",\"value\":10,\"text\":\"Call was successful.\"},\n"
                                "{\"offset\":7,\"kind\":\"string\",\"value\":\"" + value + "\\\"\",\"hex\":\"e922\"}\n"
                                "],\"return_code\":10,\"error\":null}\n");
    }
}

// The server named every way a user may name it, also over IPv6 (through a
// proxy that listens there), with the fields from a file or standard input.
TEST_F(Tool, call_reaches_the_server_however_it_is_named) {
    test::ServeProcess server;
    ASSERT_TRUE(server.start({"--quiet"}));
    test::ServeProcess proxy;
    ASSERT_TRUE(proxy.start_command({test::tool_path(), "proxy", "[::1]:" + std::to_string(proxy.port),
                                     "localhost:" + std::to_string(server.port)},
                                    "razivu proxy: listening on [::1]:"));
    const std::string port = std::to_string(server.port);
    test::write_file("args.txt", "i:1\r\ns:two\n");
    test::write_file("two.txt", "s:two");
    const test::Env by_env = {{"RAZIVU_PORT", port}, {"RAZIVU_TIMEOUT", "2.5"}};
    const std::tuple<std::vector<std::string>, std::string, test::Env> rows[] = {
        {{"127.0.0.1", port, "Echo", "i:1", "s:two"}, "", {}},
        {{"127.0.0.1:" + port, "Echo", "--args", "args.txt"}, "", {}},
        {{"[127.0.0.1]:" + port, "Echo", "i:1", "--args", "-"}, "two.txt", {}},
        {{"--timeout", "0.5", "localhost", port, "Echo", "--args", "-"}, "args.txt", {}},
        {{"Echo", "i:1", "s:two"}, "", by_env},
        {{"::1", std::to_string(proxy.port), "Echo", "i:1", "s:two"}, "", {}},
    };
    for (const auto &[args, input, env] : rows) {
        std::vector<std::string> line = {"call"};
        line.insert(line.end(), args.begin(), args.end());
        const ToolRun r = run_tool(line, input, env);
        EXPECT_EQ(r.status, 0) << ::testing::PrintToString(line) << ": " << r.err;
        EXPECT_THAT(r.out, ::testing::StartsWith("return   10 (Call was successful.)\ninteger  1\nstring   \"two\"\n"))
            << ::testing::PrintToString(line);
    }
}

// A full backlog cannot hold the connect past the time-out; a refused or
// unknown host keeps its real cause through the trace.
TEST_F(Tool, a_failed_connect_says_why_in_time_and_the_real_cause_survives_the_trace) {
    const test::RawListener full;
    ASSERT_EQ(::listen(full.fd, 0), 0);
    const std::vector<int> queued = test::connect_pending(full.port, 3);  // never accepted
    ::usleep(100000);
    const std::string port = std::to_string(full.port);
    const std::string closed = std::to_string(test::free_port());
    const std::tuple<const char *, std::string, int, std::string> rows[] = {
        {"127.0.0.1", port, 4, "timed out after 1 s connecting to 127.0.0.1:" + port},
        {"127.0.0.1", closed, 3, "cannot connect to 127.0.0.1:" + closed + ": Connection refused"},
        {"no-such-host.invalid", closed, 3, "cannot connect to no-such-host.invalid:" + closed + ": host not found"},
    };
    for (const auto &[host, target, status, message] : rows) {
        for (const test::Env &env : {test::Env{}, test::Env{{"RAZIVU_DEBUG", "trace.txt"}}}) {
            const ToolRun r = run_tool({"call", "--timeout", "1", "--json", host, target, "Echo"}, {}, env);
            const std::string what = host + (env.empty() ? ""s : " traced");
            EXPECT_EQ(r.status, status) << what << ": " << r.err;
            EXPECT_LT(r.seconds, 1 + slack_seconds) << what;
            EXPECT_THAT(r.err, HasSubstr(message + "\n")) << what;
            EXPECT_THAT(r.out, HasSubstr("\"fields\":[\n],\"return_code\":null,\"error\":\"" + message + "\"}\n")) << what;
        }
    }
    for (const int q : queued) {
        ::close(q);
    }
}

// ---- proxy -------------------------------------------------------------------------------

TEST_F(Tool, proxy_relays_every_byte_unchanged_and_prints_both_directions) {
    // A call cut inside a field and half-closed after it, a reply cut inside
    // a field: the server must see exactly the client's bytes, end-of-file
    // included, and the client exactly the server's.
    static const std::string call = "#00004|Echo|s00003|abc|a00002|\0\xff|"s;
    static const std::string reply = "r00010|s00003|abc|a00002|\0\xff|x00000|"s;
    FakeServer server(call.size(), [](int fd) {
        if (test::closed_within(fd, hang_up_wait_ms)) {  // no end-of-file: no reply
            test::raw_send(fd, reply.substr(0, 16));      // cut inside the string's data
            ::usleep(50000);
            test::raw_send(fd, reply.substr(16));
        }
    });
    const uint16_t port = test::free_port();
    auto proxy = std::async(std::launch::async, [&] {
        return run_tool({"proxy", "--once", "--json", std::to_string(port), "127.0.0.1", server.port()});
    });
    int client = -1;
    for (const test::Clock::time_point t = test::Clock::now(); client < 0 && test::ms_since(t) < 5 * test::wait_ms;) {
        client = test::raw_connect(port);  // the proxy's first connection
        ::usleep(client < 0 ? 50000 : 0);
    }
    ASSERT_GE(client, 0);
    for (const auto &[from, n] : {std::pair{0, 15}, std::pair{15, 5}, std::pair{20, 99}}) {
        test::raw_send(client, call.substr(from, n));  // cut inside the string's header, then its data
        ::usleep(50000);
    }
    ::shutdown(client, SHUT_WR);
    EXPECT_EQ(test::recv_within(client, 1000, hang_up_wait_ms), reply);
    ::close(client);
    const ToolRun r = proxy.get();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.received(), call);
    const std::string to = "127.0.0.1:" + server.port();
    for (const std::string &line : std::vector<std::string>{
             "{\"connection\":1,\"time\":\"20", "\"event\":\"connected\",\"server\":\"" + to + "\",\"address\":\"" + to + "\"}\n",
          "\"direction\":\"call\",\"field\":{\"offset\":0,\"kind\":\"function\",\"value\":\"Echo\",\"hex\":\"4563686f\"}}\n",
          "\"direction\":\"call\",\"field\":{\"offset\":23,\"kind\":\"bytes\",\"value\":\"00ff\",\"length\":2}}\n",
          "\"event\":\"side_closed\",\"side\":\"client\"}\n",
          "\"direction\":\"reply\",\"field\":{\"offset\":0,\"kind\":\"return\",\"value\":10,",
          "\"event\":\"undecoded\",\"direction\":\"reply\",\"problem\":\"no field at byte 28 (\\\"x00000|\\\"): not a type tag\"}\n",
          "\"event\":\"closed\",\"call_bytes\":33,\"reply_bytes\":35}\n"}) {
        EXPECT_THAT(r.out, HasSubstr(line));
    }
}

// 200 clients at once through the proxy to `razivu serve` are all answered
// while one sends a large call and reads nothing; the proxy listens only
// where --bind says, and closes a connection silent for --idle.
TEST_F(Tool, proxy_answers_200_clients_at_once_while_one_reads_nothing_and_closes_silent_ones) {
    test::ServeProcess server;
    ASSERT_TRUE(server.start({"--quiet", "--per-address", "32"}));
    test::ServeProcess proxy;
    ASSERT_TRUE(proxy.start_command({test::tool_path(), "proxy", "--bind", "127.0.0.2", "--idle", "2",
                                     std::to_string(proxy.port), "127.0.0.1", std::to_string(server.port)},
                                    "razivu proxy: listening on 127.0.0.2:"));
    EXPECT_LT(test::raw_connect(proxy.port), 0) << "listening on 127.0.0.1";
    const int deaf = test::connect_to("127.0.0.2", proxy.port);
    const std::string large = "#00004|Echo|a00900|" + std::string(900, 'x') + "|";
    for (int i = 0; i < 4000 && ::send(deaf, large.data(), large.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0; ++i) {
    }
    const std::string call = "#00014|VIZIIsLeapYear|i00004|2000|";
    std::vector<pollfd> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(pollfd{test::connect_to("127.0.0.2", proxy.port), POLLIN, 0});
        test::raw_send(clients.back().fd, call);
    }
    int answered = 0;
    for (const test::Clock::time_point t = test::Clock::now();
         answered < 200 && test::ms_since(t) < 5 * test::wait_ms && ::poll(clients.data(), clients.size(), 100) >= 0;) {
        for (pollfd &c : clients) {
            if (c.fd >= 0 && (c.revents & POLLIN) != 0) {
                answered += test::recv_within(c.fd, 16, test::wait_ms) == "r00010|i00001|1|" ? 1 : 0;
                ::close(c.fd);
                c.fd = -1;
            }
        }
    }
    EXPECT_EQ(answered, 200);
    const int silent = test::connect_to("127.0.0.2", proxy.port);
    EXPECT_TRUE(test::closed_within(silent, 3 * test::wait_ms));
    EXPECT_THAT(proxy.output(), HasSubstr(" idle for 2 s\n"));
    ::close(silent);
    ::close(deaf);
}

}  // namespace
