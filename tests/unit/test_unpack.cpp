// Decoding: each decoder against hand-made fields, the reads it asks for,
// what it leaves unread, the records it pushes, and the fields it refuses.
// (The decimal reader is checked against atoi by the fuzz target's seeds.)
#include <new>
#include <string>
#include <tuple>
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

std::string public_name(Kind kind) {
    static const char *const names[] = {"UnpackFunctionName", "UnpackReturnCode", "UnpackString",
                                        "UnpackInteger",      "UnpackBoolean",    "UnpackByteArray"};
    return names[static_cast<int>(kind)];
}

// Bytes of the next field, which no decoder may touch.
const std::string next_field = "i00001|9|";

}  // namespace

// One read of the header and one of the data with its separator, if any.
TEST(Unpack, well_formed_fields_decode_with_two_exact_reads) {
    const std::string longest(999, 'd');
    const std::tuple<std::string, Kind, std::string> cases[] = {
        {"s00003|abc|", Kind::string, "abc"}, {"s00000||", Kind::string, ""}, {"s-0001|", Kind::string, "<null>"},
        {"s00003|a|b|", Kind::string, "a|b"}, {"s  003|abc|", Kind::string, "abc"},
        {field_bytes('s', longest), Kind::string, longest}, {"#00004|Echo|", Kind::function, "Echo"},
        {"i00002|42|", Kind::integer, "42"}, {"i00000||", Kind::integer, "0"}, {"i00003|4x2|", Kind::integer, "4"},
        {"i00007|9999999|", Kind::integer, "9999999"}, {"i00007|-999999|", Kind::integer, "-999999"},
        {"i00003| +7|", Kind::integer, "7"}, {"i00003|-\0" "7|"s, Kind::integer, "0"},
        {"b00001|1|", Kind::boolean, "1"}, {"b00001|0|", Kind::boolean, "0"}, {"b00001|A|", Kind::boolean, "17"},
        {"b-0001|", Kind::boolean, "0"}, {"r00010|", Kind::return_code, "10"}, {"r-0005|", Kind::return_code, "-5"},
        {"r99999|", Kind::return_code, "99999"}, {"a00000||", Kind::bytes, ""},
        {"a00004|\0|\xff\n|"s, Kind::bytes, "\0|\xff\n"s}, {field_bytes('a', longest), Kind::bytes, longest},
    };
    for (const auto &[field, kind, data] : cases) {
        MemoryPeer &peer = use_memory_peer(field + next_field);
        const Decoded d = decode_field(kind);
        std::vector<int32_t> reads{msg::header_len};
        if (field.size() > msg::header_len) {
            reads.push_back(static_cast<int32_t>(field.size()) - msg::header_len);
        }
        EXPECT_EQ(std::make_pair(d.rc, d.data), std::make_pair(0, data)) << field;
        EXPECT_EQ(peer.reads, reads) << field;
        EXPECT_EQ(peer.unread(), next_field) << field;
        EXPECT_TRUE(pushes().empty()) << field;
        release(d);
    }
    use_memory_peer("s00005|a\0b|c|"s);
    const Decoded d = decode_field(Kind::string);
    EXPECT_EQ(std::string(d.block, 6), "a\0\0\0\0\0"s) << "a text ends at a NUL; the block is padded with NUL";
    release(d);
    use_memory_peer("i00002|42|");  // decoding empties what was packed and indexes the last read
    ASSERT_EQ(PackString("pending"), 0);
    int32_t value = 0;
    ASSERT_EQ(UnpackInteger(&value), 0);
    EXPECT_EQ(std::string(msg::buffer_start(), 3), "42|");
    EXPECT_EQ(msg::cursor(), 3);
}

TEST(Unpack, malformed_and_refused_fields_fail_with_the_pushes_in_order) {
    struct Case {
        std::string input;
        Kind kind;
        Lines pushes;  // before the decoder's own "54 <public name>"
        std::vector<int32_t> reads;
        std::string unread;
        const char *block;  // for block kinds: "<null>" or "<untouched>"
    };
    const std::string big(1000, 'B');
    const std::string string_step = "54 unpack_string";
    const std::vector<Case> cases = {
        {"i00002|42|", Kind::string, {}, {7}, "42|", "<untouched>"},  // wrong tag
        {"i00002|42|", Kind::return_code, {}, {7}, "42|", nullptr},
        {"s00003xabc|", Kind::string, {"54 unpack_header"}, {7}, "abc|", "<untouched>"},
        {"s000", Kind::integer, {"13 MemoryReceive", "54 unpack_header"}, {7}, "", nullptr},
        {"s00005|ab", Kind::string, {"13 MemoryReceive", string_step}, {7, 6}, "", "<untouched>"},
        {"s00003|abcd" + next_field, Kind::string, {string_step}, {7, 4}, next_field, "<null>"},
        {"#00003|abcd", Kind::function, {string_step}, {7, 4}, "", "<null>"},
        {"i00002|423", Kind::integer, {"54 unpack_integer"}, {7, 3}, "", nullptr},
        {"a00001|xy", Kind::bytes, {"54 unpack_bytes"}, {7, 2}, "", "<null>"},
        {"b00002|10|" + next_field, Kind::boolean, {"54 unpack_boolean"}, {7, 3}, next_field, nullptr},
        {"a-0001|" + next_field, Kind::bytes, {}, {7}, next_field, "<null>"},
        // Lengths no decoder may hold: refused after the header, nothing more read.
        {field_bytes('s', big), Kind::string, {string_step}, {7}, big + "|", "<untouched>"},
        {field_bytes('#', big), Kind::function, {string_step}, {7}, big + "|", "<untouched>"},
        {"a99999|" + big, Kind::bytes, {"54 unpack_bytes"}, {7}, big, "<null>"},
        {field_bytes('b', big), Kind::boolean, {"54 unpack_boolean"}, {7}, big + "|", nullptr},
        {"i00008|12345678|", Kind::integer, {"54 unpack_integer"}, {7}, "12345678|", nullptr},
        {"i-0001|" + next_field, Kind::integer, {"54 unpack_integer"}, {7}, next_field, nullptr},
        {"#-0001|" + next_field, Kind::function, {string_step}, {7}, next_field, "<untouched>"},
        {"b00000||", Kind::boolean, {"54 unpack_boolean"}, {7}, "|", nullptr},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer(c.input);
        const Decoded d = decode_field(c.kind);
        Lines expected = c.pushes;
        expected.push_back("54 " + public_name(c.kind));
        const std::string what = c.input.substr(0, 16);
        EXPECT_EQ(d.rc, -1) << what;
        EXPECT_EQ(pushes(), expected) << what;
        EXPECT_EQ(peer.reads, c.reads) << what;
        EXPECT_EQ(peer.unread(), c.unread) << what;
        EXPECT_TRUE(c.block == nullptr || d.data == c.block) << what << ": " << d.data;
    }
}

TEST(Unpack, the_byte_array_count_is_stored_once_the_header_is_read) {
    for (const auto &[input, count] : std::vector<std::pair<std::string, int32_t>>{
             {"a-0001|", -1}, {"a01000|", 1000}, {"s00002|", 2}, {"a00003|ab", 3}, {"a0", untouched_value}}) {
        use_memory_peer(input);
        const Decoded d = decode_field(Kind::bytes);
        EXPECT_EQ(std::make_tuple(d.rc, d.value, d.data), std::make_tuple(-1, count, "<null>"s)) << input;
        pop_all();
    }
}

TEST(Unpack, a_null_output_is_refused_before_anything_is_read) {
    MemoryPeer &peer = use_memory_peer("s00001|x|");
    int32_t n = 0;
    char *p = &untouched_block;
    // A braced list runs its calls in order.
    EXPECT_EQ((std::vector<int32_t>{UnpackString(nullptr), UnpackFunctionName(nullptr), UnpackBoolean(nullptr),
                                    UnpackInteger(nullptr), UnpackReturnCode(nullptr), UnpackByteArray(nullptr, &n),
                                    UnpackByteArray(&p, nullptr)}),
              std::vector<int32_t>(7, -1));
    EXPECT_TRUE(peer.reads.empty());
    EXPECT_EQ(p, nullptr) << "the data output is null after every failure";
    Lines expected;
    for (const char *name : {"UnpackString", "UnpackFunctionName", "UnpackBoolean", "UnpackInteger",
                             "UnpackReturnCode", "UnpackByteArray", "UnpackByteArray"}) {
        expected.insert(expected.end(), {"54 unpack_header", std::string("54 ") + name});
    }
    EXPECT_EQ(pushes(), expected) << "as a failed read";
}

// A failed allocation consumes the field; one that throws ends the decoder at
// the C boundary, which reports the lack of memory under the decoder's name.
TEST(Unpack, a_failed_or_throwing_allocation_fails_the_decoder_and_leaves_no_block) {
    const msg::Allocate fails = [](std::size_t) -> void * { return nullptr; };
    const msg::Allocate throws = [](std::size_t) -> void * { throw std::bad_alloc(); };
    for (const msg::Allocate allocate : {fails, throws}) {
        msg::set_allocate(allocate);
        for (Kind kind : {Kind::string, Kind::function, Kind::bytes}) {
            MemoryPeer &peer = use_memory_peer(wire_bytes({kind, 0, "ab", false}) + next_field);
            const Decoded d = decode_field(kind);
            EXPECT_EQ(d.rc, -1) << public_name(kind);
            if (allocate == fails) {
                EXPECT_EQ(d.data, "<null>") << public_name(kind);
                EXPECT_EQ(peer.unread(), next_field) << public_name(kind);
                const std::string step = kind == Kind::bytes ? "32 unpack_bytes" : "32 unpack_string";
                EXPECT_EQ(pushes(), (Lines{step, "54 " + public_name(kind)}));
            } else {
                EXPECT_EQ(pushes(), Lines{"32 " + public_name(kind)});
            }
        }
    }
    msg::set_allocate(nullptr);
}

// Needs a fresh process: the slots cannot be emptied once filled.
TEST(Unpack, without_a_receive_slot_a_decoder_fails_like_a_failed_read) {
    if (msg::receive_slot() != nullptr) {
        GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    }
    int32_t value = 0;
    EXPECT_EQ(UnpackInteger(&value), -1);
    EXPECT_EQ(pushes(), (Lines{"54 unpack_header", "54 UnpackInteger"}));
}
