// Packing: the bytes of every field kind, the flush at field boundaries, the
// transport slots, and the values the packers refuse.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rpc/message_internal.h"
#include "support/memory_transport.h"
#include "support/pushes.h"

namespace msg = razivu::message;
using namespace razivu::test;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

namespace {

using Packer = std::function<int32_t()>;

std::string packed() {
    return std::string(msg::buffer_start(), static_cast<std::size_t>(msg::cursor()));
}

// One string field that leaves the cursor at pos.
void pack_up_to(int32_t pos) {
    ASSERT_EQ(PackString(std::string(static_cast<std::size_t>(pos - msg::field_overhead), 'x').c_str()), 0);
    ASSERT_EQ(msg::cursor(), pos);
}

}  // namespace

TEST(Pack, worked_call_is_fifty_nine_bytes_and_reply_sixteen_as_old_peers_read) {
    MemoryPeer &peer = use_memory_peer();
    // A braced list runs its calls in order.
    EXPECT_EQ((std::vector<int32_t>{PackFunctionName("Echo"), PackString("abc"), PackString(nullptr),
                                    PackInteger(42), PackBoolean(1), PackByteArray("\0\xff", 2)}),
              std::vector<int32_t>(6, 0));
    SendBuffer();
    EXPECT_EQ(peer.sent, "#00004|Echo|s00003|abc|s-0001|i00002|42|b00001|1|a00002|\0\xff|"s);
    EXPECT_EQ(peer.pieces, std::vector<int32_t>{59});
    EXPECT_EQ(peer.last_socket, memory_socket);
    use_memory_peer();
    EXPECT_EQ((std::vector<int32_t>{PackReturnCode(10), PackInteger(3)}), std::vector<int32_t>(2, 0));
    msg::buffer_start()[msg::cursor()] = 'Q';  // SendBuffer neither empties the buffer nor terminates it
    SendBuffer();
    SendBuffer();
    EXPECT_EQ(peer.sent, "r00010|i00001|3|r00010|i00001|3|");
    EXPECT_EQ(msg::buffer_start()[16], 'Q');
    ResetBuffer();
    EXPECT_EQ(std::make_pair(msg::cursor(), msg::buffer_start()[0]), std::make_pair(0, '\0'));
    EXPECT_TRUE(pushes().empty());
}

TEST(Pack, every_field_kind_writes_its_exact_bytes) {
    const std::string longest(static_cast<std::size_t>(msg::max_field_data), 'm');
    const std::vector<std::pair<Packer, std::string>> cases = {
        {[] { return PackString(""); }, "s00000||"}, {[] { return PackString(nullptr); }, "s-0001|"},
        {[] { return PackString("a|b"); }, "s00003|a|b|"},
        {[&] { return PackString(longest.c_str()); }, "s00991|" + longest + "|"},
        {[] { return PackFunctionName(nullptr); }, "#-0001|"},
        {[] { return PackInteger(0); }, "i00001|0|"}, {[] { return PackInteger(-5); }, "i00002|-5|"},
        {[] { return PackInteger(9999999); }, "i00007|9999999|"},
        {[] { return PackInteger(-999999); }, "i00007|-999999|"},
        {[] { return PackBoolean(0); }, "b00001|0|"}, {[] { return PackBoolean(10); }, "b00002|10|"},
        {[] { return PackReturnCode(0); }, "r00000|"}, {[] { return PackReturnCode(99999); }, "r99999|"},
        {[] { return PackReturnCode(-5); }, "r-0005|"}, {[] { return PackReturnCode(-9999); }, "r-9999|"},
        {[] { return PackByteArray(nullptr, 5); }, "a-0001|"}, {[] { return PackByteArray(nullptr, -3); }, "a-0001|"},
        {[] { return PackByteArray("", 0); }, "a00000||"}, {[] { return PackByteArray("\0|x", 3); }, "a00003|\0|x|"s},
    };
    for (const auto &[pack, bytes] : cases) {
        use_memory_peer();
        EXPECT_EQ(pack(), 0) << bytes;
        EXPECT_EQ(packed(), bytes);
    }
    EXPECT_TRUE(pushes().empty());
}

TEST(Pack, slots_and_number_texts_are_what_printf_writes_for_every_value) {
    // "%5.5ld" would give six characters for a negative code; "%4.4ld" gives
    // five, which atoi on the far side reads back.
    char expected[16];
    char text[msg::number_text_cap];
    for (int32_t code = msg::min_return_code; code <= msg::max_return_code; ++code) {
        std::snprintf(expected, sizeof expected, code < 0 ? "%4.4ld" : "%5.5ld", static_cast<long>(code));
        msg::write_slot(text, code);
        ASSERT_EQ(std::string(text, msg::slot_len), expected) << code;
        ASSERT_EQ(msg::parse_decimal(text, msg::slot_len), code);
    }
    for (int32_t v = msg::min_number; v <= msg::max_number; ++v) {
        std::snprintf(expected, sizeof expected, "%ld", static_cast<long>(v));
        ASSERT_EQ(msg::write_number(text, v), static_cast<int32_t>(std::strlen(expected))) << v;
        ASSERT_STREQ(text, expected) << v;
    }
}

TEST(Pack, a_field_is_flushed_first_only_when_it_and_a_terminator_would_not_fit) {
    struct Case {
        const char *what;
        int32_t at;
        Packer pack;
        std::vector<int32_t> pieces;  // after SendBuffer
    };
    const std::string longest(991, 'z');
    const std::vector<Case> cases = {
        {"empty string at 991", 991, [] { return PackString(""); }, {999}},
        {"empty string at 992", 992, [] { return PackString(""); }, {992, 8}},
        {"null string at 992 (asks for 7)", 992, [] { return PackString(nullptr); }, {999}},
        {"return code at 992 (asks for 8)", 992, [] { return PackReturnCode(1); }, {992, 7}},
        {"integer at 992", 992, [] { return PackInteger(1); }, {992, 9}},
        {"longest field after another", 8, [&] { return PackByteArray(longest.data(), 991); }, {8, 999}},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer();
        pack_up_to(c.at);
        const std::string first = packed();
        ASSERT_EQ(c.pack(), 0) << c.what;
        EXPECT_EQ(peer.pieces.size() + 1, c.pieces.size()) << c.what;
        SendBuffer();
        EXPECT_EQ(peer.pieces, c.pieces) << c.what;
        EXPECT_EQ(peer.sent.substr(0, first.size()), first) << c.what;
    }
}

// A decoded field of 999 data bytes fills the buffer to its last byte; a
// packer called next sends those 1000 bytes as they stand and writes
// nothing past the buffer.
TEST(Pack, a_packer_after_a_full_decode_sends_the_whole_buffer_and_stays_inside) {
    const std::string data(999, 'd');
    MemoryPeer &peer = use_memory_peer("s00999|" + data + "|");
    char *text = nullptr;
    ASSERT_EQ(UnpackString(&text), 0);
    UnpackFree(text);
    ASSERT_EQ(msg::cursor(), msg::buffer_cap);
    ASSERT_EQ(PackInteger(7), 0);
    EXPECT_EQ(peer.pieces, std::vector<int32_t>{1000});
    EXPECT_EQ(peer.sent, data + "|");
    EXPECT_EQ(packed(), "i00001|7|");
}

TEST(Pack, refused_values_leave_buffer_and_cursor_as_they_were) {
    const std::string too_long(992, 'y');
    const std::vector<char> unterminated(992, 'u');  // strlen would run past it
    const std::vector<std::pair<Packer, const char *>> cases = {
        {[&] { return PackString(too_long.c_str()); }, "PackString"},
        {[&] { return PackString(unterminated.data()); }, "PackString"},
        {[&] { return PackFunctionName(too_long.c_str()); }, "PackFunctionName"},
        {[&] { return PackByteArray(too_long.data(), 992); }, "PackByteArray"},
        {[] { return PackByteArray("abc", -1); }, "PackByteArray"},
        {[] { return PackInteger(10000000); }, "PackInteger"}, {[] { return PackInteger(-1000000); }, "PackInteger"},
        {[] { return PackInteger(INT32_MIN); }, "PackInteger"}, {[] { return PackBoolean(10000000); }, "PackBoolean"},
        {[] { return PackBoolean(-1000000); }, "PackBoolean"},
        {[] { return PackReturnCode(100000); }, "PackReturnCode"},
        {[] { return PackReturnCode(-10000); }, "PackReturnCode"},
    };
    for (const auto &[pack, name] : cases) {
        MemoryPeer &peer = use_memory_peer();
        pack_up_to(992);  // an accepted field would flush here
        const std::string before(msg::buffer_start(), msg::buffer_cap);
        EXPECT_EQ(pack(), -1) << name;
        EXPECT_EQ(msg::cursor(), 992) << name;
        EXPECT_EQ(std::string(msg::buffer_start(), msg::buffer_cap), before) << name;
        EXPECT_TRUE(peer.pieces.empty()) << name;
        EXPECT_EQ(pushes(), Lines{"62 " + std::string(name)});
    }
}

// Needs a fresh process: the slots cannot be emptied once filled.
TEST(Pack, without_a_send_slot_packing_works_until_a_flush_is_needed) {
    if (msg::send_slot() != nullptr) {
        GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    }
    EXPECT_EQ(GetSocket(), -1);
    pack_up_to(992);
    EXPECT_EQ(PackString("late"), -1);
    EXPECT_EQ(msg::cursor(), 992);
    SendBuffer();
    EXPECT_EQ(pushes(), (Lines{"62 PackString", "15 SendBuffer"}));
}

TEST(Pack, SetTransport_keeps_a_slot_passed_as_null_but_always_takes_the_socket) {
    MemoryPeer &peer = use_memory_peer();
    SetTransport(nullptr, nullptr, 5);
    EXPECT_EQ(msg::send_slot(), &memory_send);
    EXPECT_EQ(msg::receive_slot(), &memory_receive);
    ASSERT_EQ(PackInteger(1), 0);
    SendBuffer();
    EXPECT_EQ(peer.last_socket, 5);
    SetSocket(9);
    EXPECT_EQ(GetSocket(), 9);
    ClearSocket();
    EXPECT_EQ(GetSocket(), -1);
}
