// The razivu tool's command line as a user meets it: help on every command,
// options in both spellings, exit statuses, the texts of `explain`, `sys`,
// `diag`, `version`, the generated manual page and completion, and `dump`
// reading as it decodes.
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <razivu/razivu.h>

#include "fonts_fixtures.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
using test::Tool;
using test::ToolRun;
using test::run_tool;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The commands `razivu help` lists.
std::vector<std::string> listed_commands() {
    const std::string help = run_tool({"help"}).out;
    std::vector<std::string> names;
    std::istringstream in(help.substr(help.find("commands:\n") + 10));
    for (std::string line; std::getline(in, line) && !line.empty();) {
        if (line.rfind("  ", 0) == 0 && line[2] != ' ') {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

// The manual page and the completion come from the same list as the help.
TEST_F(Tool, every_command_has_its_help_three_ways_and_a_manual_section_and_refuses_unknown_options) {
    const std::vector<std::string> commands = listed_commands();
    ASSERT_GE(commands.size(), 11u);
    const std::string errstack = test::host("C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt");
    const std::string man = run_tool({"help", "--man"}).out;
    EXPECT_THAT(man, HasSubstr(".TH RAZIVU 1 \"\" \"razivu 3.1.0\""));
    for (const std::string &cmd : commands) {
        EXPECT_THAT(man, HasSubstr(".SS \"razivu " + cmd)) << cmd;
        const ToolRun asked = run_tool({"help", cmd});
        EXPECT_EQ(asked.status, 0) << cmd;
        EXPECT_THAT(asked.out, StartsWith("usage: razivu " + cmd)) << cmd;
        for (const std::vector<std::string> &line : {std::vector<std::string>{cmd, "--help"}, {cmd, "1", "-h"},
                                                     {"--help", cmd}, {"-h", cmd}}) {
            const ToolRun r = run_tool(line);
            EXPECT_EQ(r.status, 0) << ::testing::PrintToString(line) << ": " << r.err;
            EXPECT_EQ(r.out, asked.out) << ::testing::PrintToString(line);
        }
        EXPECT_FALSE(test::exists(errstack)) << cmd << ": its help ran the command";
        const ToolRun bad = run_tool({cmd, "--no-such-option", "1", "1", "1"});
        EXPECT_EQ(bad.status, 2) << cmd;
        EXPECT_THAT(bad.err, HasSubstr("usage: razivu " + cmd)) << cmd;
    }
    test::write_file("razivu.bash", run_tool({"help", "--bash-completion"}).out);
    const std::pair<const char *, const char *> rows[] = {
        {"razivu ca", "call"},          {"razivu call --ti", "--timeout"}, {"razivu dump --j", "--json"},
        {"razivu help ex", "explain"}, {"razivu serve --w", "--workers"}, {"razivu menu r", "remove"},
        {"razivu menu add l", ""},
    };
    for (const auto &[typed, offered] : rows) {
        test::write_file("complete.sh", std::string("source razivu.bash\nCOMP_WORDS=(") + typed +
                                            ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_razivu\n"
                                            "echo \"${COMPREPLY[*]}\"\n");
        EXPECT_EQ(test::run_command("bash complete.sh").out, std::string(offered) + "\n") << typed;
    }
}

TEST_F(Tool, command_lines_give_their_documented_output_and_exit_status) {
    struct Row {
        std::vector<std::string> args;
        int status;
        const char *out;  // expected in standard output ("" for anything)
        const char *err;  // expected in standard error
    };
    // clang-format off
    const Row rows[] = {
        {{}, 2, "", "usage: razivu COMMAND"},
        {{"--help"}, 0, "exit status:\n  0  success", ""},
        {{"--version"}, 0, "razivu 3.1.0\nKQ-DX Version G.03.01\n", ""},
        {{"version"}, 0, "razivu 3.1.0\nKQ-DX Version G.03.01\n", ""},
        {{"no-such-command"}, 2, "", "unknown command 'no-such-command'"},
        {{"help", "no-such-command"}, 2, "", "no command 'no-such-command'"},
        {{"call", "127.0.0.1", "4000"}, 2, "", "missing FUNCTION"},
        {{"call", "Echo", "i:1"}, 2, "", "give the server as HOST PORT, HOST:PORT or [IPV6]:PORT, or set RAZIVU_PORT"},
        {{"call", "localhost", "Echo", "i:1"}, 2, "", "missing FUNCTION (the server is HOST PORT or HOST:PORT)"},
        {{"call", "--timeout=soon", "127.0.0.1", "4000", "Echo"}, 2, "", "--timeout takes seconds from 0 to 86400"},
        {{"call", "--timeout=0.0001", "127.0.0.1:4000", "Echo"}, 2, "", "(0.5 is half a second), not '0.0001'"},
        {{"call", "--encoding", "latin9", "127.0.0.1:4000", "Echo"}, 2, "", "--encoding takes utf-8 or cp1252"},
        {{"call", "--encoding", "cp1252", "127.0.0.1:4000", "Echo", "s:\u20ac\u2603"}, 2, "", "code page 1252 lacks"},
        {{"call", "--args", "no-such-file", "127.0.0.1:4000", "Echo"}, 2, "", "--args no-such-file: No such file"},
        {{"call", "--timeout", "127.0.0.1", "4000", "Echo", "--max-fields"}, 2, "", "needs a value N"},
        {{"call", "127.0.0.1", "70000", "Echo"}, 2, "", "port '70000' is not 1 to 65535"},
        {{"call", "127.0.0.1", "4000", "Echo", "x:1"}, 2, "", "unknown kind"},
        {{"call", "127.0.0.1", "4000", "Echo", "b:12"}, 2, "", "b: takes one digit"},
        {{"call", "127.0.0.1", "4000", "Echo", "i:12x"}, 2, "", "i: takes a 32-bit decimal integer"},
        {{"call", "127.0.0.1", "4000", "Echo", "a:0f0"}, 2, "", "a: takes pairs of hex digits"},
        {{"call", "127.0.0.1", "4000", "Echo", "i:12345678"}, 2, "", "-999999 to 9999999"},
        {{"call", "127.0.0.1", "4000", "Echo", "s:" + std::string(992, 'x')}, 2, "", "at most 991 bytes"},
        {{"serve"}, 2, "", "give a SERVICE or --port N"},
        {{"serve", "--bind", "127.0.0.1", "--backlog", "5"}, 2, "", "give a SERVICE or --port N"},
        {{"serve", "--port=http"}, 2, "", "usage: razivu serve"},
        {{"serve", test::unknown_service}, 1, "", "cannot listen"},
        {{"serve", "--port", "4000", "--bind", "1.2.3"}, 2, "", "--bind takes an IPv4 address"},
        {{"serve", "--port", "4000", "--bind", "1.2.3.256"}, 2, "", "--bind takes an IPv4 address"},
        {{"serve", "--port", "4000", "--bind", " 1.2.3.4"}, 2, "", "--bind takes an IPv4 address"},
        {{"serve", "--port", "4000", "--backlog", "0"}, 2, "", "--backlog"},
        {{"serve", "--port", "4000", "--idle"}, 2, "", "--idle"},
        {{"serve", "--inetd"}, 1, "", "standard input is not a socket"},
        {{"proxy", "70000", "127.0.0.1", "4000"}, 2, "", "the port to listen on must be 0 to 65535"},
        {{"proxy", "7000", "127.0.0.1"}, 2, "", "give HOST PORT, HOST:PORT or [IPV6]:PORT, not '127.0.0.1'"},
        {{"dump", "one", "two"}, 2, "", "too many arguments"},
        {{"dump", "no-such-capture.bin"}, 3, "", "cannot open no-such-capture.bin: "},
        {{"dump", "."}, 3, "", "cannot read .: "},  // a directory opens, but reads fail
        {{"days", "1", "1"}, 2, "", "missing arguments"},
        {{"days", "31", "12", "1999"}, 0, "36524\n", ""},
        {{"days", "32", "1", "1900"}, 0, "32\n", "not a calendar date"},
        {{"date", "-1"}, 1, "", "no date has the day number -1"},
        {{"date", "--", "36525"}, 0, "1 1 2000\n", ""},
        {{"date", "x"}, 2, "", "N must be a 32-bit integer"},
        {{"explain", "61"}, 0, "error code 61: No matching COMrpc function found at server.\n", ""},
        {{"explain", "1008"}, 0, "status code 1008: GetScreenSize: the width or the height reads 0", ""},
        {{"explain", "1"}, 0, "status code 1: a missing argument", ""},
        {{"explain", "1"}, 0, "error code 1: No error text available. (COMConnectToServerSock: host not found)", ""},
        {{"explain", "99"}, 1, "", "neither an error code nor a status code"},
        {{"explain", "--system", "111"}, 0, "system error 111: Connection refused", ""},
        {{"explain", "61", "--json"}, 0, "{\"meanings\":[{\"family\":\"error\",\"code\":61,\"text\":\"No matching", ""},
        {{"days", "--json", "31", "12", "1999"}, 0, "{\"day\":31,\"month\":12,\"year\":1999,\"number\":36524,\"valid\":true}\n", ""},
        {{"version", "--json"}, 0, "{\"package\":\"3.1.0\",\"library\":\"KQ-DX Version G.03.01\"}\n", ""},
        {{"explain"}, 0, "     63  Error on unpacking data.\n", ""},
        {{"sys", "C:\\"}, 0, "screen        0 x 0  [status 1008: GetScreenSize", ""},
        {{"sys", "--json"}, 0, "\"screen\":{\"width\":0,\"height\":0,\"status\":1008}", ""},
        {{"sys"}, 0, "registry key  SOFTWARE\\BRENVOLT absent\n", ""},
        {{"sys", "C:\\no\\such\\folder"}, 0, "drive type    drive C:\\ fixed  [status 0: done]\n", ""},
        {{"sys", "/"}, 0, "\nfile system   / ", ""},
        {{"sys", "/no/such/folder"}, 0, "file system   /no/such/folder cannot be examined: No such file", ""},
        {{"menu", "add", "C:\\x\\a.exe"}, 1, "1007 the group KOV does not exist; razivu menu create makes it\n", ""},
        {{"menu", "create"}, 0, "0 done\n", ""},
        {{"menu", "add", "C:\\x\\a.exe", "Item\x1b]0;x\a"}, 0, "0 done\n", ""},
        {{"menu", "list"}, 0, "\"Item ]0;x \"\t", ""},
        {{"menu", "remove", "Other"}, 1, "1007 the group KOV has no item \"Other\"\n", ""},
        {{"menu", "remove", "Item\x1b]0;x\a", "--json"}, 0, "{\"status\":0,\"meaning\":\"done\"}\n", ""},
        {{"menu", "list", "--json"}, 0, "{\"group\":\"KOV\",\"exists\":true,\"items\":[]}\n", ""},
    };
    // clang-format on
    for (const Row &row : rows) {
        const ToolRun r = run_tool(row.args, {}, {{"DISPLAY", ""}});
        const std::string line = ::testing::PrintToString(row.args);
        EXPECT_EQ(r.status, row.status) << line << "\n" << r.out << r.err;
        EXPECT_THAT(r.out, HasSubstr(row.out)) << line;
        EXPECT_THAT(r.err, HasSubstr(row.err)) << line;
    }
}

// No command but serve writes the library's error log: a tool run beside a
// server would empty it. Entries go where RAZIVU_TOOL_LOG says, or nowhere.
TEST_F(Tool, diag_and_call_write_log_entries_only_where_RAZIVU_TOOL_LOG_says) {
    const std::string errstack = test::host("C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt");
    const std::string trace = test::root() + "/work/trace.txt";
    const std::string own = test::root() + "/work/tool-log.txt";
    const ToolRun r = run_tool({"diag", "MyFunction", "61"}, {}, {{"RAZIVU_DEBUG", trace}, {"RAZIVU_TOOL_LOG", own}});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("error log: " + own + "\n"));
    EXPECT_THAT(r.out, HasSubstr("trace (error stack printed there and emptied): " + trace + "\n"));
    EXPECT_THAT(test::read_file(own), HasSubstr("MyFunction:  No matching COMrpc function"));
    EXPECT_THAT(test::read_file(trace), HasSubstr("ERR> 3, 61, "));
    EXPECT_THAT(run_tool({"diag"}).out, HasSubstr("error log: not written (set RAZIVU_TOOL_LOG"));
    EXPECT_EQ(run_tool({"call", "127.0.0.1", std::to_string(test::free_port()), "Echo"}).status, 3);
    EXPECT_FALSE(test::exists(errstack));
}

// Names from font files reach the terminal escaped, and "entered as" only
// where the install takes the entry.
TEST_F(Tool, font_shows_names_escaped_and_says_why_an_install_would_refuse_one) {
    const std::pair<std::string, const char *> rows[] = {
        {"FONTRES 100 : Caf\xe9", "description \"FONTRES 100 : Caf\u00e9\", entered as \"Caf\u00e9\"\n"},
        {"FONTRES 100 : Bad\x1b]0;x\x07", "description \"FONTRES 100 : Bad\\x1b]0;x\\x07\", not entered (the entry "
                                          "holds a control character"},
        {"FONTRES 100 no colon", "not entered (no name behind a colon)\n"},
    };
    for (const auto &[description, shown] : rows) {
        test::write_file("font.fon", razivu::test::fonts::module_file(description, {{}}));
        const ToolRun r = run_tool({"font", "font.fon"});
        EXPECT_EQ(r.status, 0) << description;
        EXPECT_THAT(r.out, HasSubstr(shown)) << description;
    }
    EXPECT_THAT(run_tool({"font", "--json", "font.fon"}).out,
                HasSubstr("\"kind\":\"font resource\",\"description\":\"FONTRES 100 no colon\",\"entry\":null,"
                          "\"refused\":\"no name behind a colon\"}]}\n"));
}

// diag shows its paths with GetHostPath (the mapping itself: test_logfile.cpp).
TEST(GetHostPath, refuses_what_does_not_fit_and_leaves_the_buffer_untouched) {
    char out[RAZIVU_PATH_CAP] = "untouched";
    EXPECT_EQ(GetHostPath("/tmp/x", out, 6), RAZIVU_STATUS_FAILED) << "6 bytes hold 5 characters";
    EXPECT_EQ(GetHostPath(nullptr, out, RAZIVU_PATH_CAP), RAZIVU_STATUS_FAILED);
    EXPECT_EQ(GetHostPath("/tmp/x", nullptr, RAZIVU_PATH_CAP), RAZIVU_STATUS_FAILED);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(GetHostPath("/tmp/x", out, 7), RAZIVU_STATUS_OK);
    EXPECT_STREQ(out, "/tmp/x");
}

// ---- dump --------------------------------------------------------------------------------

TEST_F(Tool, dump_prints_offsets_and_reports_what_is_not_a_field) {
    struct Row {
        std::string bytes;
        int status;
        const char *out;
        const char *err;
    };
    // clang-format off
    const Row rows[] = {
        {"#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|" + std::string("\0\xff", 2) + "|r00061|a-0001|", 0,
         "       0  function \"Echo\"\n      12  string   \"abc\"\n      23  string   null\n"
         "      30  integer  42\n      40  boolean  1\n      49  bytes    00ff (2 bytes)\n"
         "      59  return   61 (No matching COMrpc function found at server.)\n      66  bytes    null\n", ""},
        {"i00002|42|s00005|ab", 1, "       0  integer  42\n", "the bytes end inside the field at byte 10"},
        {"i00002|42|hello world", 1, "", "no field at byte 10 (\"hello w\"): not a type tag"},
        {"i00002|42|s00002x42|", 1, "", "no field at byte 10 (\"s00002x\"): Error while transfering data"},
        {"", 0, "", ""},
    };
    // clang-format on
    for (const Row &row : rows) {
        test::write_file("capture.bin", row.bytes);
        for (const ToolRun &r : {run_tool({"dump", "capture.bin"}), run_tool({"dump"}, {"capture.bin"})}) {
            EXPECT_EQ(r.status, row.status) << row.bytes;
            EXPECT_THAT(r.out, StartsWith(row.out)) << row.bytes;
            EXPECT_THAT(r.err, HasSubstr(row.err)) << row.bytes;
        }
    }
    test::write_file("capture.bin", "i00002|42|r00010|s00002|a\"|");
    EXPECT_EQ(run_tool({"dump", "--json", "capture.bin"}).out,
              "{\"encoding\":\"utf-8\",\"fields\":[\n{\"offset\":0,\"kind\":\"integer\",\"value\":42},\n"
              "{\"offset\":10,\"kind\":\"return\",\"value\":10,\"text\":\"Call was successful.\"},\n"
              "{\"offset\":17,\"kind\":\"string\",\"value\":\"a\\\"\",\"hex\":\"6122\"}\n],\"bytes\":27,\"error\":null}\n");
}

// 48 MB of fields: the dump's peak memory must not grow with its input (a
// dump that read everything first would hold all of it).
constexpr int stream_fields = 48 * 1024;
constexpr long memory_growth_bound_kb = 8 * 1024;

TEST_F(Tool, dump_takes_the_same_memory_for_any_size_of_input) {
    const char *asan = std::getenv("ASAN_OPTIONS");
    // Freed blocks would otherwise wait in the sanitizer's quarantine.
    const test::Env env = {{"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":quarantine_size_mb=1"}};
    const std::string field = "s00991|" + std::string(991, 'x') + "|";
    std::string fields;
    for (int i = 0; i < stream_fields; ++i) {
        fields += field;
    }
    test::write_file("small.bin", fields.substr(0, 64 * field.size()));
    test::write_file("large.bin", fields);
    const ToolRun a = run_tool({"dump", "small.bin"}, {}, env);
    const ToolRun b = run_tool({"dump", "large.bin"}, {}, env);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_LT(b.max_rss_kb - a.max_rss_kb, memory_growth_bound_kb)
        << "peak " << a.max_rss_kb << " KB for 64 fields, " << b.max_rss_kb << " KB for " << stream_fields;
}

}  // namespace
