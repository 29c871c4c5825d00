// The debug trace and COMLogLine: switching by environment and by
// COMSetTraceFile, the error stack printed after each line, line lengths,
// COMLOGGING spellings and the shape of a log line.
#include <cstdlib>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/test_env.h"

namespace {

using razivu::test::exists;
using razivu::test::read_text;
using razivu::test::set_env;
using razivu::test::unset_env;
using razivu::test::write_file;

const std::string stack_printed_empty = "Print error stack:\nError stack printed.\n\n";

TEST(Trace, without_a_trace_file_or_with_an_unopenable_one_writes_nothing_and_keeps_the_stack) {
    for (const char *env : {static_cast<const char *>(nullptr), "no/such/dir/trace.txt"}) {
        if (env != nullptr) {
            set_env("RAZIVU_DEBUG", env);
        }
        COMPushError("A", 54);
        COMTrace("line %d\n", 1);
        COMDebugTrace("buffer\n");
        EXPECT_EQ(COMGetTraceFile(), nullptr);
        EXPECT_EQ(COMErrorStackIsEmpty(), 0);
    }
}

TEST(Trace, environment_file_is_emptied_then_gets_lines_and_the_stack) {
    write_file("trace.txt", "left over from before\n");
    set_env("RAZIVU_DEBUG", "trace.txt");
    COMPushError("COMReadSock", 11);
    COMTrace("< Bytes: %d\n", 5);
    EXPECT_EQ(COMErrorStackIsEmpty(), 1);
    COMDebugTrace("second\n");
    COMDebugPrintf("third %s\n", "line");
    EXPECT_EQ(read_text("trace.txt"),
              "< Bytes: 5\nPrint error stack:\nERR> 3, 11, RazIvu function COMReadSock:  Operation failed.\n"
              "Error stack printed.\n\nsecond\n" + stack_printed_empty + "third line\n" + stack_printed_empty);
}

// A file set is closed when the next is set and emptied when opened. Lines
// up to 299 characters and far beyond are written whole.
TEST(Trace, set_trace_file_overrides_the_environment_both_ways_switches_files_and_writes_long_lines_whole) {
    set_env("RAZIVU_DEBUG", "env.txt");
    COMSetTraceFile(nullptr);  // decided before the environment was read
    COMTrace("dropped\n");
    EXPECT_EQ(COMGetTraceFile(), nullptr);
    write_file("second.txt", "old\n");
    COMSetTraceFile("first.txt");
    const std::string fits(298, 'a'), message(1500, 'm');
    COMTrace("%s\n", fits.c_str());
    COMDebugTrace("DEBUG: (COMSend) buffer <%s>\n", message.c_str());
    COMSetTraceFile("second.txt");
    COMTrace("two\n");
    COMSetTraceFile(nullptr);
    COMTrace("dropped again\n");
    EXPECT_EQ(read_text("first.txt"), fits + "\n" + stack_printed_empty + "DEBUG: (COMSend) buffer <" + message +
                                          ">\n" + stack_printed_empty);
    EXPECT_EQ(read_text("second.txt"), "two\n" + stack_printed_empty);
    EXPECT_FALSE(exists("env.txt"));
}

// The environment is read once per process: each spelling runs in a child.
TEST(LogLine, only_ON_and_on_switch_log_lines_on_and_the_environment_is_read_once) {
    if (razivu::test::on_windows) {
        GTEST_SKIP() << "each spelling needs a process of its own, and Windows has no fork";
    }
    const std::pair<const char *, bool> spellings[] = {
        {"ON", true}, {"on", true}, {"On", false}, {"1", false}, {"", false}, {nullptr, false}};
    for (const auto &spelling : spellings) {
        const char *value = spelling.first;
        const bool on = spelling.second;
        const std::string file = "lines-" + std::string(value != nullptr ? value : "unset") + ".txt";
        const pid_t pid = razivu::test::run_child([&] {
            value != nullptr ? set_env("COMLOGGING", value) : unset_env("COMLOGGING");
            COMLogLine(nullptr, "read the variable\n");  // latches it, though it writes nothing
            for (const char *line : {"hello\n", "again\n"}) {
                set_env("COMLOGGING", on ? "off" : "ON");
                COMLogLine(file.c_str(), "%s", line);
            }
            return 0;
        });
        EXPECT_EQ(razivu::test::wait_child(pid), 0);
        EXPECT_EQ(exists(file), on) << file;
        EXPECT_EQ(read_text(file).find("again") != std::string::npos, on) << file;
    }
}

TEST(LogLine, entry_is_text_then_at_ctime_then_a_blank_line_cut_to_299_characters) {
    set_env("COMLOGGING", "on");
    COMLogLine("lines.txt", "connected %d\n", 3);
    COMLogLine("no/such/dir/lines.txt", "lost\n");  // skipped: the next line is still written
    COMLogLine("lines.txt", "%s", std::string(500, 'b').c_str());
    const std::string ctime_re = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n";
    const std::string re = "connected 3\n\\. At " + ctime_re + " \n" + std::string(299, 'b') + "\\. At " + ctime_re +
                           " \n";
    EXPECT_TRUE(std::regex_match(read_text("lines.txt"), std::regex(re))) << read_text("lines.txt");
}

}  // namespace
