// The debug trace and COMLogLine: switching by environment and by
// COMSetTraceFile, the error stack printed after each line, line lengths,
// COMLOGGING spellings and the shape of a log line.
#include <cstdlib>
#include <regex>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/test_env.h"

namespace {

using razivu::test::exists;
using razivu::test::read_file;
using razivu::test::write_file;

const std::string stack_printed_empty = "Print error stack:\nError stack printed.\n\n";

TEST(Trace, without_a_trace_file_writes_nothing_and_keeps_the_stack) {
    COMPushError("A", 54);
    COMTrace("line %d\n", 1);
    COMDebugTrace("buffer\n");
    EXPECT_EQ(COMGetTraceFile(), nullptr);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0);
}

TEST(Trace, environment_file_is_emptied_then_gets_lines_and_the_stack) {
    write_file("trace.txt", "left over from before\n");
    ::setenv("RAZIVU_DEBUG", "trace.txt", 1);
    COMPushError("COMReadSock", 11);
    COMTrace("< Bytes: %d\n", 5);
    EXPECT_EQ(COMErrorStackIsEmpty(), 1);
    COMDebugTrace("second\n");
    COMDebugPrintf("third %s\n", "line");
    EXPECT_EQ(read_file("trace.txt"),
              "< Bytes: 5\n"
              "Print error stack:\n"
              "ERR> 3, 11, RazIvu function COMReadSock:  Operation failed.\n"
              "Error stack printed.\n\n"
              "second\n" + stack_printed_empty + "third line\n" + stack_printed_empty);
}

TEST(Trace, set_trace_file_overrides_the_environment_both_ways) {
    ::setenv("RAZIVU_DEBUG", "env.txt", 1);
    COMSetTraceFile(nullptr);  // decided before the environment was read
    COMTrace("dropped\n");
    EXPECT_FALSE(exists("env.txt"));
    EXPECT_EQ(COMGetTraceFile(), nullptr);

    COMSetTraceFile("mine.txt");
    COMTrace("kept\n");
    COMSetTraceFile(nullptr);
    COMTrace("dropped again\n");
    EXPECT_EQ(read_file("mine.txt"), "kept\n" + stack_printed_empty);
    EXPECT_FALSE(exists("env.txt"));
}

TEST(Trace, switching_files_closes_the_first_and_empties_the_second) {
    write_file("second.txt", "old\n");
    COMSetTraceFile("first.txt");
    COMTrace("one\n");
    COMSetTraceFile("second.txt");
    COMTrace("two\n");
    EXPECT_EQ(read_file("first.txt"), "one\n" + stack_printed_empty);
    EXPECT_EQ(read_file("second.txt"), "two\n" + stack_printed_empty);
}

TEST(Trace, unopenable_file_means_no_trace) {
    ::setenv("RAZIVU_DEBUG", "no/such/dir/trace.txt", 1);
    COMPushError("A", 54);
    COMTrace("x\n");
    EXPECT_EQ(COMGetTraceFile(), nullptr);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0);
}

TEST(Trace, lines_up_to_299_and_far_beyond_are_written_whole) {
    COMSetTraceFile("long.txt");
    const std::string fits(298, 'a');
    const std::string message(1500, 'm');
    COMTrace("%s\n", fits.c_str());
    COMDebugTrace("DEBUG: (COMSend) buffer <%s>\n", message.c_str());
    EXPECT_EQ(read_file("long.txt"), fits + "\n" + stack_printed_empty +
                                         "DEBUG: (COMSend) buffer <" + message + ">\n" +
                                         stack_printed_empty);
}

class Logging : public ::testing::TestWithParam<std::pair<const char *, bool>> {};

TEST_P(Logging, only_ON_and_on_switch_log_lines_on) {
    const auto [value, on] = GetParam();
    if (value != nullptr) {
        ::setenv("COMLOGGING", value, 1);
    }
    COMLogLine("lines.txt", "hello\n");
    EXPECT_EQ(exists("lines.txt"), on) << (value ? value : "(unset)");
}

INSTANTIATE_TEST_SUITE_P(Spellings, Logging,
                         ::testing::Values(std::make_pair("ON", true), std::make_pair("on", true),
                                           std::make_pair("On", false), std::make_pair("1", false),
                                           std::make_pair("", false),
                                           std::make_pair(nullptr, false)),
                         [](const auto &param_info) {
                             const char *v = param_info.param.first;
                             if (v == nullptr) {
                                 return std::string("unset");
                             }
                             return *v == '\0' ? std::string("empty") : std::string("value_") + v;
                         });

TEST(LogLine, environment_is_read_once) {
    COMLogLine("lines.txt", "before\n");
    ::setenv("COMLOGGING", "ON", 1);
    COMLogLine("lines.txt", "after\n");
    EXPECT_FALSE(exists("lines.txt"));
}

TEST(LogLine, entry_is_text_then_at_ctime_then_a_blank_line) {
    ::setenv("COMLOGGING", "on", 1);
    COMLogLine("lines.txt", "connected %d\n", 3);
    COMLogLine("lines.txt", "again\n");
    const std::string ctime_re = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n";
    const std::string re = "connected 3\n\\. At " + ctime_re + " \n" + "again\n\\. At " + ctime_re + " \n";
    EXPECT_TRUE(std::regex_match(read_file("lines.txt"), std::regex(re))) << read_file("lines.txt");
}

TEST(LogLine, text_is_cut_to_299_characters_and_unopenable_files_are_skipped) {
    ::setenv("COMLOGGING", "ON", 1);
    const std::string big(500, 'b');
    COMLogLine("lines.txt", "%s", big.c_str());
    COMLogLine("no/such/dir/lines.txt", "lost\n");
    const std::string text = read_file("lines.txt");
    EXPECT_EQ(text.substr(0, 304), std::string(299, 'b') + ". At ");
}

}  // namespace
