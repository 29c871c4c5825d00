// The error stack: texts, the ring's capacity and overflow, pops, printing,
// and the error log entry of every push.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/test_env.h"

namespace {

using ::testing::HasSubstr;

// Pops everything and returns the codes, newest first.
std::vector<int32_t> drain_codes() {
    std::vector<int32_t> codes;
    ErrorRecord rec{};
    while (COMPopError(&rec) == 1) {
        codes.push_back(rec.code);
    }
    return codes;
}

std::string print_to_string() {
    std::FILE *f = std::tmpfile();
    COMPrintErrorStack(f);
    std::rewind(f);
    std::string out;
    char buf[512];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, n);
    }
    std::fclose(f);
    return out;
}

struct TextRow {
    int32_t code;
    const char *text;
};

TEST(ErrorTexts, every_row_of_the_table_and_the_fallback) {
    const std::vector<TextRow> rows = {
        {10, "Call was successful."}, {11, "Operation failed."},
        {12, "Error stack is empty."}, {13, "Nothing received."},
        {14, "Receive over socket failed."}, {15, "Nothing sended."},
        {16, "Send over socket failed."}, {17, "Server machine not found in /etc/hosts."},
        {18, "Service not found in /etc/services."}, {19, "Opening a socket failed."},
        {20, "Some parameter(s) not supported."}, {21, "Length of data is too small."},
        {22, "Length of data is too long."}, {26, "Time difference is negative."},
        {28, "Service not found in the service database."}, {32, "Insufficient Memory."},
        {33, "Tried to initialize twice."}, {35, "Unable to create socket."},
        {38, "Call of ioctl failed."}, {39, "Could not open device."},
        {49, "WSA Startup/Cleanup failed. No winsock.dll?"},
        {52, "Listen socket not established."}, {53, "Socket i/o failed."},
        {54, "Error while transfering data"}, {55, "Invalid socket"},
        {56, "Communication timed out"}, {57, "Cannot load winsock.dll"},
        {58, "Disconnecting from server error"}, {59, "Connecting to server failed"},
        {60, "Error receiving data from remote server."},
        {61, "No matching COMrpc function found at server."},
        {62, "Error on packing data."}, {63, "Error on unpacking data."},
        // Codes without a row, and rows asked for under another kind.
        {1, "No error text available."}, {0, "No error text available."},
        {-10, "No error text available."}, {64, "No error text available."},
    };
    for (const auto &row : rows) {
        EXPECT_STREQ(COMLookupErrorText(row.code, RAZIVU_KIND_LIBRARY), row.text) << row.code;
    }
    EXPECT_STREQ(COMLookupErrorText(10, RAZIVU_KIND_SYSTEM), "No error text available.");
    EXPECT_STREQ(COMLookupErrorText(10, RAZIVU_KIND_UNKNOWN), "No error text available.");
    EXPECT_STREQ(GetVersionString(), "KQ-DX Version G.03.01");
}

TEST(ErrorStack, records_carry_kind_code_and_text_of_their_kind) {
    COMPushError("UnpackString", 54);
    COMPushError("COMConnectToServerSock", 1);
    COMPushErrorOfKind("Mystery", 7);  // any other kind is unknown, with the pending code
    ErrorRecord rec{};
    ASSERT_EQ(COMPopError(&rec), 1);
    EXPECT_EQ(rec.kind, RAZIVU_KIND_UNKNOWN);
    EXPECT_EQ(rec.code, 1);
    EXPECT_STREQ(rec.text, "unknown function Mystery:  No error text available.");
    ASSERT_EQ(COMPopError(&rec), 1);
    EXPECT_EQ(rec.kind, RAZIVU_KIND_LIBRARY);
    EXPECT_STREQ(rec.text, "RazIvu function COMConnectToServerSock:  No error text available.");
    ASSERT_EQ(COMPopError(&rec), 1);
    EXPECT_EQ(rec.code, 54);
    EXPECT_STREQ(rec.text, "RazIvu function UnpackString:  Error while transfering data");
}

TEST(ErrorStack, system_push_keeps_the_errno_of_its_start_and_leaves_errno_alone) {
    // The very first push sets the ring up and writes the error log, both of
    // which may change errno on the way.
    errno = ENOENT;
    COMPushSysError("fopen");
    EXPECT_EQ(errno, ENOENT);
    errno = ECONNREFUSED;
    COMPushSysError("connect");
    ErrorRecord rec{};
    ASSERT_EQ(COMPopError(&rec), 1);
    EXPECT_EQ(rec.kind, RAZIVU_KIND_SYSTEM);
    EXPECT_EQ(rec.code, ECONNREFUSED);
    EXPECT_EQ(std::string(rec.text), std::string("system function connect:  ") + std::strerror(ECONNREFUSED));
    ASSERT_EQ(COMPopError(&rec), 1);
    EXPECT_EQ(rec.code, ENOENT);
    EXPECT_EQ(std::string(rec.text), std::string("system function fopen:  ") + std::strerror(ENOENT));
}

TEST(ErrorStack, texts_longer_than_the_slot_are_cut_to_99_characters) {
    const std::string name(300, 'f');
    COMPushError(name.c_str(), 54);
    const char *text = COMGetLastErrorText();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).size(), 99u);
    EXPECT_EQ(std::string(text), ("RazIvu function " + name).substr(0, 99));
}

TEST(ErrorStack, thirty_one_pushes_keep_the_newest_thirty) {
    for (int32_t code = 1; code <= 31; ++code) {
        COMPushError("Fill", code);
    }
    std::vector<int32_t> expected;
    for (int32_t code = 31; code >= 2; --code) {
        expected.push_back(code);
    }
    EXPECT_EQ(drain_codes(), expected);
    EXPECT_EQ(COMErrorStackIsEmpty(), 1);
}

TEST(ErrorStack, after_overflow_pushes_keep_the_count_until_found_empty) {
    for (int32_t code = 1; code <= 31; ++code) {
        COMPushError("Fill", code);
    }
    EXPECT_NE(COMGetLastErrorText(), nullptr);
    EXPECT_NE(COMGetLastErrorText(), nullptr);
    for (int32_t code = 100; code < 103; ++code) {
        COMPushError("More", code);
    }
    std::vector<int32_t> codes = drain_codes();
    ASSERT_EQ(codes.size(), 28u);
    EXPECT_EQ(codes.front(), 102);
    EXPECT_EQ(codes.back(), 5);

    // Found empty: the full capacity is back.
    for (int32_t code = 1; code <= 30; ++code) {
        COMPushError("Again", code);
    }
    EXPECT_EQ(drain_codes().size(), 30u);
}

TEST(ErrorStack, empty_stack_pops_nothing_and_leaves_the_record_alone) {
    EXPECT_EQ(COMErrorStackIsEmpty(), 1);
    EXPECT_EQ(COMGetLastErrorText(), nullptr);
    ErrorRecord rec{7, 8, 9, nullptr};
    EXPECT_EQ(COMPopError(&rec), 0);
    EXPECT_EQ(rec.in_use, 7);
    EXPECT_EQ(rec.kind, 8);
    EXPECT_EQ(rec.code, 9);
    COMPushError("Kept", 54);
    EXPECT_EQ(COMPopError(nullptr), 0);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0);
}

TEST(ErrorStack, print_lists_newest_first_in_the_exact_format_and_empties) {
    COMPushError("A", 54);
    COMPushError("B", 32);
    EXPECT_EQ(print_to_string(),
              "Print error stack:\n"
              "ERR> 3, 32, RazIvu function B:  Insufficient Memory.\n"
              "ERR> 3, 54, RazIvu function A:  Error while transfering data\n"
              "Error stack printed.\n\n");
    EXPECT_EQ(COMErrorStackIsEmpty(), 1);
    EXPECT_EQ(print_to_string(), "Print error stack:\nError stack printed.\n\n");
}

TEST(ErrorStack, print_without_stream_or_trace_file_leaves_the_stack) {
    COMPushError("A", 54);
    COMPrintErrorStack(nullptr);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0);
}

TEST(ErrorStack, every_push_is_an_error_entry_of_errstack_txt) {
    COMPushError("UnpackString", 54);
    COMPushError("COMReadSock", 11);
    const std::string log =
        razivu::test::read_file(razivu::test::host("C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt"));
    EXPECT_THAT(log, HasSubstr(" KQ-DX Version G.03.01 protocol part 1\n"));
    EXPECT_THAT(log, HasSubstr(" ERROR: RazIvu > RazIvu function UnpackString:  Error while transfering data\n"));
    EXPECT_THAT(log, HasSubstr(" ERROR: RazIvu > RazIvu function COMReadSock:  Operation failed.\n"));
}

}  // namespace
