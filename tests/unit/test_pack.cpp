// Packing: the bytes of every field kind, the flush at field boundaries, the
// transport slots, and the values the packers refuse.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "razivu/lib/message_internal.h"
#include "support/memory_transport.h"

namespace msg = razivu::message;
using razivu::test::MemoryPeer;
using razivu::test::Push;
using razivu::test::take_pushes;
using razivu::test::use_memory_peer;

namespace {

using namespace std::string_literals;

std::string packed() {
    return std::string(msg::buffer_start(), static_cast<std::size_t>(msg::cursor()));
}

// Fills the buffer with one string field so that the cursor stands at pos.
void pack_up_to(int32_t pos) {
    ASSERT_EQ(PackString(std::string(static_cast<std::size_t>(pos - msg::field_overhead), 'x').c_str()), 0);
    ASSERT_EQ(msg::cursor(), pos);
}

struct FieldCase {
    const char *what;
    std::function<int32_t()> pack;
    std::string bytes;
};

}  // namespace

TEST(Pack, WorkedExampleCallIsTheFiftyNineBytesOldPeersRead) {
    MemoryPeer &peer = use_memory_peer();
    const char data[] = {'\0', '\xff'};
    ASSERT_EQ(PackFunctionName("Echo"), 0);
    ASSERT_EQ(PackString("abc"), 0);
    ASSERT_EQ(PackString(nullptr), 0);
    ASSERT_EQ(PackInteger(42), 0);
    ASSERT_EQ(PackBoolean(1), 0);
    ASSERT_EQ(PackByteArray(data, 2), 0);
    SendBuffer();
    const std::string expected = "#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|"s +
                                 std::string(data, 2) + "|";
    ASSERT_EQ(expected.size(), 59U);
    EXPECT_EQ(peer.sent, expected);
    EXPECT_EQ(peer.pieces, std::vector<int32_t>{59});
    EXPECT_EQ(peer.last_socket, razivu::test::memory_socket);
    EXPECT_TRUE(take_pushes().empty());
}

TEST(Pack, ReplyWithReturnCodeAndIntegerIsSixteenBytes) {
    MemoryPeer &peer = use_memory_peer();
    ASSERT_EQ(PackReturnCode(10), 0);
    ASSERT_EQ(PackInteger(3), 0);
    SendBuffer();
    EXPECT_EQ(peer.sent, "r00010|i00001|3|");
}

TEST(Pack, EveryFieldKindWritesItsExactBytes) {
    const std::string max_text(static_cast<std::size_t>(msg::max_field_data), 'm');
    const std::vector<FieldCase> cases = {
        {"empty string", [] { return PackString(""); }, "s00000||"},
        {"null string", [] { return PackString(nullptr); }, "s-0001|"},
        {"separator inside", [] { return PackString("a|b"); }, "s00003|a|b|"},
        {"longest string", [&] { return PackString(max_text.c_str()); }, "s00991|" + max_text + "|"},
        {"function name", [] { return PackFunctionName("Echo"); }, "#00004|Echo|"},
        {"null function name", [] { return PackFunctionName(nullptr); }, "#-0001|"},
        {"integer 0", [] { return PackInteger(0); }, "i00001|0|"},
        {"integer -5", [] { return PackInteger(-5); }, "i00002|-5|"},
        {"largest integer", [] { return PackInteger(9999999); }, "i00007|9999999|"},
        {"smallest integer", [] { return PackInteger(-999999); }, "i00007|-999999|"},
        {"boolean 0", [] { return PackBoolean(0); }, "b00001|0|"},
        {"boolean 10", [] { return PackBoolean(10); }, "b00002|10|"},
        {"return code 10", [] { return PackReturnCode(10); }, "r00010|"},
        {"return code 0", [] { return PackReturnCode(0); }, "r00000|"},
        {"largest return code", [] { return PackReturnCode(99999); }, "r99999|"},
        {"return code -5", [] { return PackReturnCode(-5); }, "r-0005|"},
        {"smallest return code", [] { return PackReturnCode(-9999); }, "r-9999|"},
        {"null byte array", [] { return PackByteArray(nullptr, 5); }, "a-0001|"},
        {"null byte array, negative count", [] { return PackByteArray(nullptr, -3); }, "a-0001|"},
        {"empty byte array", [] { return PackByteArray("", 0); }, "a00000||"},
        {"bytes with NUL and separator", [] { return PackByteArray("\0|x", 3); }, "a00003|\0|x|"s},
    };
    for (const FieldCase &c : cases) {
        use_memory_peer();
        EXPECT_EQ(c.pack(), 0) << c.what;
        EXPECT_EQ(packed(), c.bytes) << c.what;
    }
    EXPECT_TRUE(take_pushes().empty());
}

TEST(Pack, LengthSlotHoldsFiveCharactersForEveryCodeTheSlotCanCarry) {
    // A plain "%5.5ld" gives six characters for a negative code; the slot
    // takes the "%4.4ld" form there, which atoi on the far side reads back.
    char expected[16];
    char slot[msg::slot_len];
    for (int32_t code = msg::min_return_code; code <= msg::max_return_code; ++code) {
        std::snprintf(expected, sizeof expected, code < 0 ? "%4.4ld" : "%5.5ld", static_cast<long>(code));
        msg::write_slot(slot, code);
        ASSERT_EQ(std::strlen(expected), 5U) << code;
        ASSERT_EQ(std::string(slot, 5), expected) << code;
        ASSERT_EQ(msg::parse_decimal(slot, msg::slot_len), code);
    }
}

TEST(Pack, NumberTextIsWhatPercentLdWrites) {
    char expected[16];
    char text[msg::number_text_cap];
    for (int32_t v = msg::min_number; v <= msg::max_number; ++v) {
        std::snprintf(expected, sizeof expected, "%ld", static_cast<long>(v));
        const int32_t len = msg::write_number(text, v);
        ASSERT_STREQ(text, expected) << v;
        ASSERT_EQ(len, static_cast<int32_t>(std::strlen(expected)));
    }
}

TEST(Pack, FieldThatFitsWithItsTerminatorIsNotFlushed) {
    MemoryPeer &peer = use_memory_peer();
    pack_up_to(991);
    ASSERT_EQ(PackString(""), 0);
    EXPECT_TRUE(peer.pieces.empty());
    EXPECT_EQ(msg::cursor(), 999);
}

TEST(Pack, FieldThatWouldNotFitSendsThePackedBytesFirst) {
    struct Case {
        const char *what;
        std::function<int32_t()> pack;
        std::vector<int32_t> pieces;  // after SendBuffer
    };
    const std::vector<Case> cases = {
        {"empty string at 992", [] { return PackString(""); }, {992, 8}},
        {"null string at 992 (asks for 7)", [] { return PackString(nullptr); }, {999}},
        {"return code at 992 (asks for 8)", [] { return PackReturnCode(1); }, {992, 7}},
        {"integer at 992", [] { return PackInteger(1); }, {992, 9}},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer();
        pack_up_to(992);
        const std::string first = packed();
        ASSERT_EQ(c.pack(), 0) << c.what;
        SendBuffer();
        EXPECT_EQ(peer.pieces, c.pieces) << c.what;
        EXPECT_EQ(peer.sent.substr(0, 992), first) << c.what;
    }
}

TEST(Pack, LongestFieldAfterAnyOtherFieldStartsANewPiece) {
    MemoryPeer &peer = use_memory_peer();
    ASSERT_EQ(PackReturnCode(10), 0);
    ASSERT_EQ(PackByteArray(std::string(991, 'z').data(), 991), 0);
    SendBuffer();
    EXPECT_EQ(peer.pieces, (std::vector<int32_t>{7, 999}));
}

TEST(Pack, SendBufferNeitherEmptiesTheBufferNorTerminatesIt) {
    MemoryPeer &peer = use_memory_peer();
    ASSERT_EQ(PackInteger(7), 0);
    msg::buffer_start()[msg::cursor()] = 'Q';
    SendBuffer();
    SendBuffer();
    EXPECT_EQ(peer.sent, "i00001|7|i00001|7|");
    EXPECT_EQ(msg::cursor(), 9);
    EXPECT_EQ(msg::buffer_start()[9], 'Q');
    ResetBuffer();
    EXPECT_EQ(msg::cursor(), 0);
    EXPECT_EQ(msg::buffer_start()[0], '\0');
}

TEST(Pack, RefusedValuesLeaveBufferAndCursorAsTheyWere) {
    struct Case {
        const char *what;
        std::function<int32_t()> pack;
        const char *name;
    };
    const std::string too_long(992, 'y');
    const std::vector<Case> cases = {
        {"string of 992 bytes", [&] { return PackString(too_long.c_str()); }, "PackString"},
        {"function name of 992 bytes", [&] { return PackFunctionName(too_long.c_str()); }, "PackFunctionName"},
        {"byte array of 992 bytes", [&] { return PackByteArray(too_long.data(), 992); }, "PackByteArray"},
        {"byte array, negative count", [] { return PackByteArray("abc", -1); }, "PackByteArray"},
        {"integer 10000000", [] { return PackInteger(10000000); }, "PackInteger"},
        {"integer -1000000", [] { return PackInteger(-1000000); }, "PackInteger"},
        {"smallest int32 integer", [] { return PackInteger(INT32_MIN); }, "PackInteger"},
        {"boolean 10000000", [] { return PackBoolean(10000000); }, "PackBoolean"},
        {"boolean -1000000", [] { return PackBoolean(-1000000); }, "PackBoolean"},
        {"return code 100000", [] { return PackReturnCode(100000); }, "PackReturnCode"},
        {"return code -10000", [] { return PackReturnCode(-10000); }, "PackReturnCode"},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer();
        pack_up_to(992);  // a field that is accepted here would flush
        const std::string before(msg::buffer_start(), msg::buffer_cap);
        EXPECT_EQ(c.pack(), -1) << c.what;
        EXPECT_EQ(msg::cursor(), 992) << c.what;
        EXPECT_EQ(std::string(msg::buffer_start(), msg::buffer_cap), before) << c.what;
        EXPECT_TRUE(peer.pieces.empty()) << c.what;
        EXPECT_EQ(take_pushes(), (std::vector<Push>{{c.name, RAZIVU_E_PACK}})) << c.what;
    }
}

TEST(Pack, LongTextIsMeasuredOnlyAsFarAsTheLimit) {
    // No terminator within reach: the packer must stop looking at 992 bytes.
    use_memory_peer();
    std::vector<char> unterminated(992, 'u');
    EXPECT_EQ(PackString(unterminated.data()), -1);
    EXPECT_EQ(msg::cursor(), 0);
}

TEST(Pack, EnsureRoomRefusesWhatCanNeverFit) {
    MemoryPeer &peer = use_memory_peer();
    pack_up_to(500);
    EXPECT_EQ(msg::ensure_room(1000), -1);
    EXPECT_EQ(msg::ensure_room(-1), -1);
    EXPECT_EQ(msg::cursor(), 500);
    EXPECT_EQ(msg::ensure_room(999), 0);
    EXPECT_EQ(peer.pieces, std::vector<int32_t>{500});
    EXPECT_EQ(msg::cursor(), 0);
}

// Needs a fresh process: the slots cannot be emptied once filled.
TEST(Pack, WithoutSendSlotPackingWorksUntilAFlushIsNeeded) {
    if (msg::send_slot() != nullptr) {
        GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    }
    EXPECT_EQ(GetSocket(), -1);
    pack_up_to(992);
    EXPECT_EQ(PackString("late"), -1);
    EXPECT_EQ(msg::cursor(), 992);
    SendBuffer();
    EXPECT_EQ(take_pushes(), (std::vector<Push>{{"PackString", RAZIVU_E_PACK},
                                                {"SendBuffer", RAZIVU_E_NOTHING_SENT}}));
}

TEST(Pack, SetTransportKeepsASlotPassedAsNullButAlwaysTakesTheSocket) {
    MemoryPeer &peer = use_memory_peer();
    SetTransport(nullptr, nullptr, 5);
    EXPECT_EQ(GetSocket(), 5);
    EXPECT_EQ(msg::send_slot(), &razivu::test::memory_send);
    EXPECT_EQ(msg::receive_slot(), &razivu::test::memory_receive);
    ASSERT_EQ(PackInteger(1), 0);
    SendBuffer();
    EXPECT_EQ(peer.last_socket, 5);
    SetSocket(9);
    EXPECT_EQ(GetSocket(), 9);
    ClearSocket();
    EXPECT_EQ(GetSocket(), -1);
}
