// Decoding: each decoder against hand-made fields, the reads it asks for,
// what it leaves unread, the records it pushes, and the fields it refuses.
#include <cstdlib>
#include <string>
#include <new>
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

TEST(Unpack, WellFormedFieldsDecodeWithTwoExactReads) {
    struct Case {
        std::string field;
        Kind kind;
        std::string data;
        std::vector<int32_t> reads;
    };
    const std::string longest(999, 'd');
    const std::vector<Case> cases = {
        {"s00003|abc|", Kind::string, "abc", {7, 4}}, {"s00000||", Kind::string, "", {7, 1}},
        {"s-0001|", Kind::string, "<null>", {7}}, {"s00003|a|b|", Kind::string, "a|b", {7, 4}},
        {"s  003|abc|", Kind::string, "abc", {7, 4}}, {field_bytes('s', longest), Kind::string, longest, {7, 1000}},
        {"#00004|Echo|", Kind::function, "Echo", {7, 5}}, {"i00002|42|", Kind::integer, "42", {7, 3}},
        {"i00000||", Kind::integer, "0", {7, 1}}, {"i00003|4x2|", Kind::integer, "4", {7, 4}},
        {"i00007|9999999|", Kind::integer, "9999999", {7, 8}},
        {"i00007|-999999|", Kind::integer, "-999999", {7, 8}},
        {"i00003| +7|", Kind::integer, "7", {7, 4}}, {"i00003|-\0" "7|"s, Kind::integer, "0", {7, 4}},
        {"b00001|1|", Kind::boolean, "1", {7, 2}}, {"b00001|0|", Kind::boolean, "0", {7, 2}},
        {"b00001|A|", Kind::boolean, "17", {7, 2}}, {"b-0001|", Kind::boolean, "0", {7}},
        {"r00010|", Kind::return_code, "10", {7}}, {"r-0005|", Kind::return_code, "-5", {7}},
        {"r99999|", Kind::return_code, "99999", {7}}, {"a00000||", Kind::bytes, "", {7, 1}},
        {"a00004|\0|\xff\n|"s, Kind::bytes, "\0|\xff\n"s, {7, 5}},
        {field_bytes('a', longest), Kind::bytes, longest, {7, 1000}},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer(c.field + next_field);
        const Decoded d = decode_field(c.kind);
        EXPECT_EQ(d.rc, 0) << c.field;
        EXPECT_EQ(d.data, c.data) << c.field;
        EXPECT_EQ(peer.reads, c.reads) << c.field;
        EXPECT_EQ(peer.unread(), next_field) << c.field;
        EXPECT_TRUE(pushes().empty()) << c.field;
        release(d);
    }
}

TEST(Unpack, TextWithANulEndsThereAndTheBlockIsPaddedWithNul) {
    use_memory_peer("s00005|a\0b|c|"s);
    const Decoded d = decode_field(Kind::string);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(std::string(d.block, 6), "a\0\0\0\0\0"s);
    release(d);
}

TEST(Unpack, MalformedAndRefusedFieldsFailWithThePushesInOrder) {
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
        if (c.block != nullptr) {
            EXPECT_EQ(d.data, c.block) << what;
        }
    }
}

TEST(Unpack, ByteArrayCountIsStoredOnceTheHeaderIsRead) {
    for (const auto &[input, count] : std::vector<std::pair<std::string, int32_t>>{
             {"a-0001|", -1}, {"a01000|", 1000}, {"s00002|", 2}, {"a00003|ab", 3}, {"a0", untouched_value}}) {
        use_memory_peer(input);
        const Decoded d = decode_field(Kind::bytes);
        EXPECT_EQ(std::make_tuple(d.rc, d.value, d.data), std::make_tuple(-1, count, "<null>"s)) << input;
        pop_all();
    }
}

TEST(Unpack, NullOutputIsRefusedBeforeAnythingIsRead) {
    MemoryPeer &peer = use_memory_peer("s00001|x|");
    int32_t n = 0;
    char *p = nullptr;
    // A braced list runs its calls in order.
    EXPECT_EQ((std::vector<int32_t>{UnpackString(nullptr), UnpackFunctionName(nullptr), UnpackBoolean(nullptr),
                                    UnpackInteger(nullptr), UnpackReturnCode(nullptr), UnpackByteArray(nullptr, &n),
                                    UnpackByteArray(&p, nullptr)}),
              std::vector<int32_t>(7, -1));
    EXPECT_TRUE(peer.reads.empty());
    EXPECT_EQ(pushes(), (Lines{"54 UnpackString", "54 UnpackFunctionName", "54 UnpackBoolean", "54 UnpackInteger",
                               "54 UnpackReturnCode", "54 UnpackByteArray", "54 UnpackByteArray"}));
    EXPECT_EQ(UnpackFree(nullptr), 0);
}

namespace {

int32_t allocations = 0;
std::size_t last_size = 0;
bool fail_allocation = false;

void *counting_allocate(std::size_t n) {
    ++allocations;
    last_size = n;
    return fail_allocation ? nullptr : std::malloc(n);
}

}  // namespace

TEST(Unpack, EachStringOrByteArrayCostsOneAllocationOfItsSize) {
    struct Case {
        std::string input;
        Kind kind;
        int32_t allocations;
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {"s00003|abc|", Kind::string, 1, 4}, {"#00001|f|", Kind::function, 1, 2},
        {"a00003|abc|", Kind::bytes, 1, 3},  {"a00000||", Kind::bytes, 1, 1},
        {"s-0001|", Kind::string, 0, 0},     {"i00001|1|", Kind::integer, 0, 0},
        {"s00003|abcX", Kind::string, 1, 4},  // released again after the failure
    };
    msg::set_allocate(counting_allocate);
    for (const Case &c : cases) {
        use_memory_peer(c.input);
        allocations = 0;
        last_size = 0;
        release(decode_field(c.kind));
        EXPECT_EQ(allocations, c.allocations) << c.input;
        EXPECT_EQ(last_size, c.size) << c.input;
        pop_all();
    }
    msg::set_allocate(nullptr);
}

// A failed allocation consumes the field; one that throws ends the decoder at
// the C boundary, which reports the lack of memory under the decoder's name.
TEST(Unpack, FailedOrThrowingAllocationFailsTheDecoderAndLeavesNoBlock) {
    const std::pair<msg::Allocate, const char *> seams[] = {
        {counting_allocate, "returns null"},
        {[](std::size_t) -> void * { throw std::bad_alloc(); }, "throws"},
    };
    fail_allocation = true;
    for (const auto &[allocate, what] : seams) {
        msg::set_allocate(allocate);
        for (Kind kind : {Kind::string, Kind::function, Kind::bytes}) {
            MemoryPeer &peer = use_memory_peer(wire_bytes({kind, 0, "ab", false}) + next_field);
            const Decoded d = decode_field(kind);
            EXPECT_EQ(d.rc, -1) << what << " " << public_name(kind);
            if (allocate == counting_allocate) {
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

TEST(Unpack, DecodingEmptiesWhatWasPackedAndIndexesTheLastRead) {
    use_memory_peer("i00002|42|");
    ASSERT_EQ(PackString("pending"), 0);
    int32_t value = 0;
    ASSERT_EQ(UnpackInteger(&value), 0);
    EXPECT_EQ(std::string(msg::buffer_start(), 3), "42|");
    EXPECT_EQ(msg::cursor(), 3);
}

// Needs a fresh process: the slots cannot be emptied once filled.
TEST(Unpack, WithoutReceiveSlotADecoderFailsLikeAFailedRead) {
    if (msg::receive_slot() != nullptr) {
        GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    }
    int32_t value = 0;
    EXPECT_EQ(UnpackInteger(&value), -1);
    EXPECT_EQ(pushes(), (Lines{"54 unpack_header", "54 UnpackInteger"}));
}

TEST(Unpack, DecimalReaderAgreesWithAtoi) {
    for (const std::string t : {"", "0", "42", "-42", "+42", " \t\n\v\f\r7", "4x2", "x42", "--4", "- 4", "-",
                                "0009999", "-999999", "9999999", " -0"}) {
        EXPECT_EQ(msg::parse_decimal(t.c_str(), static_cast<int32_t>(t.size())), std::atoi(t.c_str())) << t;
    }
}
