// The razivu tool's network commands as a user meets them: `razivu serve`
// as a real process, `razivu call` against it, `razivu dump` on captures,
// and their exit statuses.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_env.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
using ::testing::HasSubstr;

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::tool_path().empty()) {
            GTEST_SKIP() << "the razivu tool is not built beside the tests";
        }
    }
};

class ToolWithServer : public Tool {
protected:
    void SetUp() override {
        Tool::SetUp();
        if (!IsSkipped()) {
            ASSERT_TRUE(server.start()) << server.banner;
        }
    }
    test::ToolRun call(const std::string &args) {
        return test::run_tool("call 127.0.0.1 " + std::to_string(server.port) + " " + args);
    }
    // Sends raw bytes on a connection of its own and reads n reply bytes.
    std::string exchange(const std::string &bytes, std::size_t n) {
        const int fd = test::raw_connect(server.port);
        test::raw_send(fd, bytes);
        std::string reply = test::raw_recv(fd, n);
        ::close(fd);
        return reply;
    }
    test::ServeProcess server;
};

TEST_F(ToolWithServer, call_prints_every_field_of_an_echo_reply) {
    const test::ToolRun r = call("Echo 's:a|b\"c' s:null i:42 b:1 a:00ff7c a:null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "return   10\n"
              "string   \"a|b\\\"c\"\n"
              "string   null\n"
              "integer  42\n"
              "boolean  1\n"
              "bytes    00ff7c (3 bytes)\n"
              "bytes    null\n");
}

struct CalendarRow {
    const char *args;
    const char *reply;
    int status;
};

TEST_F(ToolWithServer, calendar_functions_answer_with_their_documented_fields) {
    const CalendarRow rows[] = {
        {"VIZIIsLeapYear i:2000", "return   10\ninteger  1\n", 0},
        {"VIZIIsLeapYear i:1900", "return   10\ninteger  0\n", 0},
        {"VIZIIsDateValid i:29 i:2 i:2004", "return   10\ninteger  1\n", 0},
        {"VIZIGetDaysSince1900 i:1 i:1 i:1900", "return   10\ninteger  1\n", 0},
        {"VIZIGetDaysSince1900 i:31 i:12 i:1999", "return   10\ninteger  36524\n", 0},
        {"VIZIGetDMYFromDaysSince1900 i:36525",
         "return   10\ninteger  0\ninteger  1\ninteger  1\ninteger  2000\n", 0},
        {"VIZIGetDMYFromDaysSince1900 i:-1",
         "return   10\ninteger  -1\ninteger  0\ninteger  0\ninteger  0\n", 0},
        {"VIZIGetDaysSince1900 i:1 i:1 i:30000", "return   22\n", 1},  // eight digits
        {"VIZIIsLeapYear s:2000", "return   20\n", 1},
        {"NoSuchFunction i:1 s:x", "return   61\n", 1},
    };
    for (const CalendarRow &row : rows) {
        const test::ToolRun r = call(row.args);
        EXPECT_EQ(r.out, row.reply) << row.args;
        EXPECT_EQ(r.status, row.status) << row.args;
    }
}

TEST_F(ToolWithServer, calls_sent_back_to_back_are_answered_in_order) {
    const std::string calls = "#00004|Echo|i00001|1|"
                              "#00014|NoSuchFunction|s00001|x|"
                              "#00020|VIZIGetDaysSince1900|i00001|1|"  // cut short: r 20
                              "#00014|VIZIIsLeapYear|i00004|2004|";
    const std::string replies = "r00010|i00001|1|r00061|r00020|r00010|i00001|1|";
    EXPECT_EQ(exchange(calls, replies.size()), replies);
}

TEST_F(ToolWithServer, survives_garbage_and_vanishing_clients) {
    EXPECT_EQ(exchange("GET / HTTP/1.0\r\n\r\n", 100), "") << "disconnected, nothing sent";
    EXPECT_EQ(exchange("s00003|abc|", 100), "") << "arguments without a call";
    exchange("#00004|Echo|s00009|cut", 0);  // gone in the middle of a field
    EXPECT_EQ(exchange("#00004|Echo|s00995|" + std::string(995, 'x') + "|", 100), "")
        << "a text too long to echo ends the connection rather than the reply short";
    const test::ToolRun r = call("Echo i:5");
    EXPECT_EQ(r.out, "return   10\ninteger  5\n");
}

struct UsageRow {
    const char *args;
    const char *message;
};

TEST_F(ToolWithServer, bad_arguments_are_refused_before_anything_is_sent) {
    const UsageRow rows[] = {
        {"Echo x:1", "unknown kind"},
        {"Echo b:12", "b: takes one digit"},
        {"Echo i:12x", "i: takes a 32-bit decimal integer"},
        {"Echo a:0f0", "a: takes pairs of hex digits"},
        {"Echo i:12345678", "cannot carry this call"},
    };
    for (const UsageRow &row : rows) {
        const test::ToolRun r = call(row.args);
        EXPECT_EQ(r.status, 2) << row.args;
        EXPECT_THAT(r.out, HasSubstr(row.message)) << row.args;
    }
}

TEST_F(Tool, call_reports_what_it_cannot_reach) {
    test::ToolRun r = test::run_tool("call 127.0.0.1 " + std::to_string(test::free_port()) + " Echo");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("Connection refused"));
    r = test::run_tool("call no-such-host.invalid 4000 Echo");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("host not found"));
    for (const char *args : {"call", "call 127.0.0.1 70000 Echo", "call 127.0.0.1 0 Echo"}) {
        EXPECT_EQ(test::run_tool(args).status, 2) << args;
    }
}

TEST_F(Tool, serve_refuses_bad_options_and_unknown_services) {
    for (const char *args : {"serve", "serve --port 0", "serve --port 80 svc", "serve --workers",
                             "serve --port 4000 --bogus"}) {
        EXPECT_EQ(test::run_tool(args).status, 2) << args;
    }
    const test::ToolRun r = test::run_tool(std::string("serve ") + test::unknown_service);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("cannot listen"));
}

TEST_F(Tool, dump_prints_the_fields_of_a_capture) {
    const std::string capture = test::root() + "/work/capture.bin";
    test::write_file(capture, "#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|" +
                                  std::string("\x00\xff", 2) + "|r00010|a-0001|");
    test::ToolRun r = test::run_tool("dump", capture);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "function \"Echo\"\nstring   \"abc\"\nstring   null\ninteger  42\nboolean  1\n"
              "bytes    00ff (2 bytes)\nreturn   10\nbytes    null\n");

    test::write_file(capture, "i00002|42|s00005|ab");
    r = test::run_tool("dump", capture);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("integer  42\n"));
    EXPECT_THAT(r.out, HasSubstr("no field at byte 10"));

    test::write_file(capture, "hello");
    EXPECT_EQ(test::run_tool("dump", capture).status, 1);
    EXPECT_EQ(test::run_tool("dump '" + capture + "'").status, 1) << "the same, named";
    EXPECT_EQ(test::run_tool("dump no-such-capture.bin").status, 1);
    EXPECT_EQ(test::run_tool("dump one two").status, 2);
}

}  // namespace
