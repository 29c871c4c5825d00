// The error stack: texts, the ring's capacity and overflow, pops, printing,
// and the error log entry of every push.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "razivu/razivu.h"
#include "support/pushes.h"
#include "support/test_env.h"
#include "tools/common/numbers.h"

namespace {

using ::testing::HasSubstr;

using razivu::test::popped_codes;

const std::string fallback = "No error text available.";

// The codes are read from the public header, so that a code added there
// without a row of its own shows here.
TEST(ErrorTexts, every_public_code_has_its_own_text_and_only_the_unknown_host_the_fallback) {
    std::ifstream header(RAZIVU_SOURCE_DIR "/include/razivu/diagnostics.h");
    std::set<std::string> texts;
    int codes = 0;
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string define, name, value;
        int32_t code = 0;
        if (!(words >> define >> name >> value) || define != "#define" ||
            (name != "RAZIVU_OK" && name.rfind("RAZIVU_E_", 0) != 0)) {
            continue;
        }
        ++codes;
        ASSERT_TRUE(razivu_tool::parse_int32(value.c_str(), INT32_MIN, INT32_MAX, code)) << line;
        const std::string text = COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
        if (name == "RAZIVU_E_UNKNOWN_HOST") {
            EXPECT_EQ(text, fallback);
        } else {
            EXPECT_TRUE(text != fallback && texts.insert(text).second) << name << ": " << text;
        }
    }
    EXPECT_GT(codes, 30) << "the header's codes were not found";
    EXPECT_EQ(texts.size() + 1, static_cast<std::size_t>(codes));
}

// Old callers compare the texts, misspellings included.
TEST(ErrorTexts, keep_the_old_wording_and_other_kinds_and_codes_read_the_fallback) {
    const std::pair<int32_t, const char *> rows[] = {
        {10, "Call was successful."}, {15, "Nothing sended."}, {32, "Insufficient Memory."},
        {49, "WSA Startup/Cleanup failed. No winsock.dll?"}, {54, "Error while transfering data"},
        {61, "No matching COMrpc function found at server."}, {63, "Error on unpacking data."},
        {0, "No error text available."}, {-10, "No error text available."}, {64, "No error text available."},
    };
    for (const auto &[code, text] : rows) {
        EXPECT_STREQ(COMLookupErrorText(code, RAZIVU_KIND_LIBRARY), text) << code;
    }
    EXPECT_EQ(COMLookupErrorText(10, RAZIVU_KIND_SYSTEM), fallback);
    EXPECT_EQ(COMLookupErrorText(10, RAZIVU_KIND_UNKNOWN), fallback);
}

// The very first push sets the ring up and writes the error log, both of
// which may change errno on the way: a system push keeps the errno of its
// start. Every push is an ERROR entry of errstack.txt.
TEST(ErrorStack, records_carry_kind_code_and_text_and_a_system_push_leaves_errno_alone) {
    errno = ENOENT;
    COMPushSysError("fopen");
    EXPECT_EQ(errno, ENOENT);
    COMPushError("UnpackString", 54);
    COMPushError("COMConnectToServerSock", 1);
    COMPushErrorOfKind("Mystery", 7);  // any other kind is unknown, with the pending code
    using razivu::test::Record;
    EXPECT_EQ(razivu::test::pop_all(),
              (std::vector<Record>{
                  {RAZIVU_KIND_SYSTEM, ENOENT, std::string("system function fopen:  ") + std::strerror(ENOENT)},
                  {RAZIVU_KIND_LIBRARY, 54, "RazIvu function UnpackString:  Error while transfering data"},
                  {RAZIVU_KIND_LIBRARY, 1, "RazIvu function COMConnectToServerSock:  No error text available."},
                  {RAZIVU_KIND_UNKNOWN, 1, "unknown function Mystery:  No error text available."}}));
    const std::string name(300, 'f');
    COMPushError(name.c_str(), 54);
    EXPECT_EQ(std::string(COMGetLastErrorText()), ("RazIvu function " + name).substr(0, 99)) << "cut to the slot";
    const std::string log = razivu::test::read_text(razivu::test::host("C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt"));
    EXPECT_THAT(log, HasSubstr(" KQ-DX Version G.03.01 protocol part 1\n"));
    EXPECT_THAT(log, HasSubstr(" ERROR: RazIvu > RazIvu function UnpackString:  Error while transfering data\n"));
    EXPECT_THAT(log, HasSubstr(" ERROR: RazIvu > system function fopen:  "));
}

// After an overflow, pushes keep the count until the stack is found empty.
TEST(ErrorStack, keeps_the_newest_thirty_and_its_full_capacity_once_found_empty) {
    for (int32_t code = 1; code <= 31; ++code) {
        COMPushError("Fill", code);
    }
    COMGetLastErrorText();
    COMGetLastErrorText();
    for (int32_t code = 100; code < 103; ++code) {
        COMPushError("More", code);
    }
    std::vector<int32_t> expected(25);  // 5 to 29
    std::iota(expected.begin(), expected.end(), 5);
    expected.insert(expected.end(), {100, 101, 102});
    EXPECT_EQ(popped_codes(), expected);
    COMPushError("Again", 1);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0) << "the overflow ended when the stack was found empty";
    for (int32_t code = 2; code <= 31; ++code) {
        COMPushError("Again", code);
    }
    expected.resize(30);
    std::iota(expected.begin(), expected.end(), 2);
    EXPECT_EQ(popped_codes(), expected);
    // Found empty, a pop leaves the caller's record alone; a null record pops nothing.
    char kept[] = "kept";
    ErrorRecord rec{7, RAZIVU_KIND_LIBRARY, 9, kept};
    EXPECT_EQ(COMPopError(&rec), 0);
    EXPECT_EQ(std::make_tuple(rec.in_use, rec.kind, rec.code, rec.text), std::make_tuple(7, RAZIVU_KIND_LIBRARY, 9, kept));
    COMPushError("A", 54);
    EXPECT_EQ(COMPopError(nullptr), 0);
    EXPECT_EQ(COMErrorStackIsEmpty(), 0);
}

// No stream and no trace file: nothing is printed, nothing lost.
TEST(ErrorStack, print_lists_newest_first_in_the_exact_format_and_empties) {
    COMPushError("A", 54);
    COMPrintErrorStack(nullptr);
    COMPushError("B", 32);
    std::FILE *f = std::fopen("stack.txt", "w");
    COMPrintErrorStack(f);
    COMPrintErrorStack(f);
    std::fclose(f);
    EXPECT_EQ(razivu::test::read_text("stack.txt"),
              "Print error stack:\nERR> 3, 32, RazIvu function B:  Insufficient Memory.\n"
              "ERR> 3, 54, RazIvu function A:  Error while transfering data\nError stack printed.\n\n"
              "Print error stack:\nError stack printed.\n\n");
}

}  // namespace
