// Decoding: each decoder against hand-made fields, the reads it asks for,
// what it leaves unread, the records it pushes, and the fields it refuses.
#include <cstdio>
#include <cstdlib>
#include <random>
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

enum class Kind { string, function, boolean, integer, return_code, bytes };

const char *public_name(Kind kind) {
    switch (kind) {
    case Kind::string: return "UnpackString";
    case Kind::function: return "UnpackFunctionName";
    case Kind::boolean: return "UnpackBoolean";
    case Kind::integer: return "UnpackInteger";
    case Kind::return_code: return "UnpackReturnCode";
    case Kind::bytes: return "UnpackByteArray";
    }
    return "";
}

// Stands for "the decoder did not touch its block output".
char untouched_mark;
constexpr int32_t untouched_value = -424242;

// What one decoder call gave, in one shape for every kind.
struct Decoded {
    int32_t rc = 0;
    int32_t value = untouched_value;  // booleans, integers, return codes, byte counts
    char *block = &untouched_mark;    // strings, names, byte arrays
    std::string data;                 // the block's text, or its count bytes
};

Decoded decode(Kind kind) {
    Decoded d;
    switch (kind) {
    case Kind::string: d.rc = UnpackString(&d.block); break;
    case Kind::function: d.rc = UnpackFunctionName(&d.block); break;
    case Kind::boolean: d.rc = UnpackBoolean(&d.value); break;
    case Kind::integer: d.rc = UnpackInteger(&d.value); break;
    case Kind::return_code: d.rc = UnpackReturnCode(&d.value); break;
    case Kind::bytes: d.rc = UnpackByteArray(&d.block, &d.value); break;
    }
    if (d.block != nullptr && d.block != &untouched_mark) {
        d.data = kind == Kind::bytes ? std::string(d.block, static_cast<std::size_t>(d.value))
                                     : std::string(d.block);
    }
    return d;
}

void release(Decoded &d) {
    if (d.block != &untouched_mark) {
        EXPECT_EQ(UnpackFree(d.block), 0);
    }
}

// Bytes of the next field, which no decoder may touch.
const std::string next_field = "i00001|9|";

}  // namespace

TEST(Unpack, WellFormedFieldsDecodeWithTwoExactReads) {
    struct Case {
        const char *field;  // hand-made, as a peer sends it
        std::size_t field_len;
        Kind kind;
        int32_t value;      // for the value kinds and byte counts
        const char *data;   // text or bytes; null for a null value
        std::size_t data_len;
        std::vector<int32_t> reads;
    };
    const std::vector<Case> cases = {
        {"s00003|abc|", 11, Kind::string, untouched_value, "abc", 3, {7, 4}},
        {"s00000||", 8, Kind::string, untouched_value, "", 0, {7, 1}},
        {"s-0001|", 7, Kind::string, untouched_value, nullptr, 0, {7}},
        {"s00003|a|b|", 11, Kind::string, untouched_value, "a|b", 3, {7, 4}},
        {"s  003|abc|", 11, Kind::string, untouched_value, "abc", 3, {7, 4}},
        {"#00004|Echo|", 12, Kind::function, untouched_value, "Echo", 4, {7, 5}},
        {"i00002|42|", 10, Kind::integer, 42, nullptr, 0, {7, 3}},
        {"i00000||", 8, Kind::integer, 0, nullptr, 0, {7, 1}},
        {"i00003|4x2|", 11, Kind::integer, 4, nullptr, 0, {7, 4}},
        {"i00007|9999999|", 15, Kind::integer, 9999999, nullptr, 0, {7, 8}},
        {"i00007|-999999|", 15, Kind::integer, -999999, nullptr, 0, {7, 8}},
        {"i00003| +7|", 11, Kind::integer, 7, nullptr, 0, {7, 4}},
        {"i00003|-\0" "7|", 11, Kind::integer, 0, nullptr, 0, {7, 4}},
        {"b00001|1|", 9, Kind::boolean, 1, nullptr, 0, {7, 2}},
        {"b00001|0|", 9, Kind::boolean, 0, nullptr, 0, {7, 2}},
        {"b00001|A|", 9, Kind::boolean, 17, nullptr, 0, {7, 2}},
        {"b-0001|", 7, Kind::boolean, 0, nullptr, 0, {7}},
        {"r00010|", 7, Kind::return_code, 10, nullptr, 0, {7}},
        {"r-0005|", 7, Kind::return_code, -5, nullptr, 0, {7}},
        {"r99999|", 7, Kind::return_code, 99999, nullptr, 0, {7}},
        {"a00000||", 8, Kind::bytes, 0, "", 0, {7, 1}},
        {"a00004|\0|\xff\n|", 12, Kind::bytes, 4, "\0|\xff\n", 4, {7, 5}},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer(std::string(c.field, c.field_len) + next_field);
        Decoded d = decode(c.kind);
        const std::string what = std::string(c.field, c.field_len);
        EXPECT_EQ(d.rc, 0) << what;
        EXPECT_EQ(d.value, c.value) << what;
        if (c.data == nullptr && (c.kind == Kind::string || c.kind == Kind::function)) {
            EXPECT_EQ(d.block, nullptr) << what;
        }
        if (c.data != nullptr) {
            ASSERT_NE(d.block, nullptr) << what;
            EXPECT_EQ(d.data, std::string(c.data, c.data_len)) << what;
        }
        EXPECT_EQ(peer.reads, c.reads) << what;
        EXPECT_EQ(peer.unread(), next_field) << what;
        EXPECT_TRUE(take_pushes().empty()) << what;
        release(d);
    }
}

TEST(Unpack, TextWithANulEndsThereAndTheBlockIsPaddedWithNul) {
    use_memory_peer("s00005|a\0b|c|"s);
    Decoded d = decode(Kind::string);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(std::string(d.block, 6), "a\0\0\0\0\0"s);
    release(d);
}

TEST(Unpack, LongestBodiesThatFitTheBufferAreRead) {
    const std::string data(999, 'd');
    for (Kind kind : {Kind::string, Kind::bytes}) {
        const std::string tag = kind == Kind::string ? "s" : "a";
        MemoryPeer &peer = use_memory_peer(tag + "00999|" + data + "|");
        Decoded d = decode(kind);
        EXPECT_EQ(d.rc, 0) << tag;
        EXPECT_EQ(d.data, data) << tag;
        EXPECT_EQ(peer.reads, (std::vector<int32_t>{7, 1000})) << tag;
        release(d);
    }
}

TEST(Unpack, MalformedAndRefusedFieldsFailWithThePushesInOrder) {
    struct Case {
        const char *what;
        std::string input;
        Kind kind;
        std::vector<Push> pushes;     // besides the decoder's own, which comes last
        std::vector<int32_t> reads;
        std::string unread;
        bool block_null;              // else untouched
    };
    const std::string big(1000, 'B');
    const std::vector<Case> cases = {
        {"wrong tag", "i00002|42|", Kind::string, {}, {7}, "42|", false},
        {"wrong tag for a return code", "i00002|42|", Kind::return_code, {}, {7}, "42|", false},
        {"no separator after the header", "s00003xabc|", Kind::string, {{"unpack_header", 54}}, {7}, "abc|", false},
        {"header cut short", "s000", Kind::integer,
         {{"MemoryReceive", 13}, {"unpack_header", 54}}, {7}, "", false},
        {"body cut short", "s00005|ab", Kind::string,
         {{"MemoryReceive", 13}, {"unpack_string", 54}}, {7, 6}, "", false},
        {"no separator after a string", "s00003|abcd" + next_field, Kind::string,
         {{"unpack_string", 54}}, {7, 4}, next_field, true},
        {"no separator after a name", "#00003|abcd", Kind::function, {{"unpack_string", 54}}, {7, 4}, "", true},
        {"no separator after an integer", "i00002|423", Kind::integer, {{"unpack_integer", 54}}, {7, 3}, "", false},
        {"no separator after bytes", "a00001|xy", Kind::bytes, {{"unpack_bytes", 54}}, {7, 2}, "", true},
        {"boolean of two characters", "b00002|10|" + next_field, Kind::boolean,
         {{"unpack_boolean", 54}}, {7, 3}, next_field, false},
        {"null byte array", "a-0001|" + next_field, Kind::bytes, {}, {7}, next_field, true},
        // Refused before the data: the header is consumed, nothing else.
        {"string of 1000 bytes", "s01000|" + big + "|", Kind::string,
         {{"unpack_string", 54}}, {7}, big + "|", false},
        {"name of 1000 bytes", "#01000|" + big + "|", Kind::function,
         {{"unpack_string", 54}}, {7}, big + "|", false},
        {"byte array of 99999 bytes", "a99999|" + big, Kind::bytes, {{"unpack_bytes", 54}}, {7}, big, true},
        {"boolean of 1000 bytes", "b01000|" + big + "|", Kind::boolean,
         {{"unpack_boolean", 54}}, {7}, big + "|", false},
        {"integer text of 8 characters", "i00008|12345678|", Kind::integer,
         {{"unpack_integer", 54}}, {7}, "12345678|", false},
        {"integer of negative length", "i-0001|" + next_field, Kind::integer,
         {{"unpack_integer", 54}}, {7}, next_field, false},
        {"name of negative length", "#-0001|" + next_field, Kind::function,
         {{"unpack_string", 54}}, {7}, next_field, false},
        {"boolean of length 0", "b00000||", Kind::boolean, {{"unpack_boolean", 54}}, {7}, "|", false},
    };
    for (const Case &c : cases) {
        MemoryPeer &peer = use_memory_peer(c.input);
        Decoded d = decode(c.kind);
        std::vector<Push> pushes = c.pushes;
        pushes.emplace_back(public_name(c.kind), RAZIVU_E_TRANSFER);
        EXPECT_EQ(d.rc, -1) << c.what;
        EXPECT_EQ(take_pushes(), pushes) << c.what;
        EXPECT_EQ(peer.reads, c.reads) << c.what;
        EXPECT_EQ(peer.unread(), c.unread) << c.what;
        if (c.kind == Kind::string || c.kind == Kind::function || c.kind == Kind::bytes) {
            EXPECT_EQ(d.block, c.block_null ? nullptr : &untouched_mark) << c.what;
        }
    }
}

TEST(Unpack, ByteArrayCountIsStoredOnceTheHeaderIsRead) {
    struct Case {
        std::string input;
        int32_t count;
    };
    const std::vector<Case> cases = {
        {"a-0001|", -1}, {"a01000|", 1000}, {"s00002|", 2}, {"a00003|ab", 3}, {"a0", untouched_value},
    };
    for (const Case &c : cases) {
        use_memory_peer(c.input);
        Decoded d = decode(Kind::bytes);
        EXPECT_EQ(d.rc, -1) << c.input;
        EXPECT_EQ(d.value, c.count) << c.input;
        EXPECT_EQ(d.block, nullptr) << c.input;
        take_pushes();
    }
}

TEST(Unpack, NullOutputIsRefusedBeforeAnythingIsRead) {
    MemoryPeer &peer = use_memory_peer("s00001|x|");
    int32_t n = 0;
    char *p = nullptr;
    EXPECT_EQ(UnpackString(nullptr), -1);
    EXPECT_EQ(UnpackFunctionName(nullptr), -1);
    EXPECT_EQ(UnpackBoolean(nullptr), -1);
    EXPECT_EQ(UnpackInteger(nullptr), -1);
    EXPECT_EQ(UnpackReturnCode(nullptr), -1);
    EXPECT_EQ(UnpackByteArray(nullptr, &n), -1);
    EXPECT_EQ(UnpackByteArray(&p, nullptr), -1);
    EXPECT_TRUE(peer.reads.empty());
    EXPECT_EQ(take_pushes(), (std::vector<Push>{{"UnpackString", 54}, {"UnpackFunctionName", 54},
                                                {"UnpackBoolean", 54}, {"UnpackInteger", 54},
                                                {"UnpackReturnCode", 54}, {"UnpackByteArray", 54},
                                                {"UnpackByteArray", 54}}));
}

namespace {

int32_t allocations = 0;
std::size_t last_size = 0;

void *counting_allocate(std::size_t n) {
    ++allocations;
    last_size = n;
    return std::malloc(n);
}

void *failing_allocate(std::size_t) {
    return nullptr;
}

}  // namespace

TEST(Unpack, EachStringOrByteArrayCostsOneAllocationOfItsSize) {
    msg::set_allocate(counting_allocate);
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
    for (const Case &c : cases) {
        use_memory_peer(c.input);
        allocations = 0;
        last_size = 0;
        Decoded d = decode(c.kind);
        EXPECT_EQ(allocations, c.allocations) << c.input;
        EXPECT_EQ(last_size, c.size) << c.input;
        release(d);
        take_pushes();
    }
    msg::set_allocate(nullptr);
}

TEST(Unpack, FailedAllocationConsumesTheFieldAndLeavesNull) {
    msg::set_allocate(failing_allocate);
    for (Kind kind : {Kind::string, Kind::function, Kind::bytes}) {
        const std::string field = kind == Kind::string ? "s00002|ab|" : kind == Kind::bytes ? "a00002|ab|" : "#00002|ab|";
        MemoryPeer &peer = use_memory_peer(field + next_field);
        Decoded d = decode(kind);
        const char *step = kind == Kind::bytes ? "unpack_bytes" : "unpack_string";
        EXPECT_EQ(d.rc, -1) << field;
        EXPECT_EQ(d.block, nullptr) << field;
        EXPECT_EQ(peer.unread(), next_field) << field;
        EXPECT_EQ(take_pushes(), (std::vector<Push>{{step, RAZIVU_E_NO_MEMORY},
                                                    {public_name(kind), RAZIVU_E_TRANSFER}}))
            << field;
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

TEST(Unpack, HeaderStepStoresTagAndLengthBeforeCheckingTheSeparator) {
    use_memory_peer("\xff" "00012X");
    int32_t type = 0;
    int32_t len = 0;
    EXPECT_EQ(msg::unpack_header(&type, &len), -1);
    EXPECT_EQ(type, -1);
    EXPECT_EQ(len, 12);
    EXPECT_EQ(take_pushes(), (std::vector<Push>{{"unpack_header", 54}}));
}

TEST(Unpack, FillBufferRefusesCountsBeyondTheBufferWithoutReading) {
    MemoryPeer &peer = use_memory_peer(std::string(2000, 'x'));
    EXPECT_EQ(msg::fill_buffer(1001), -1);
    EXPECT_EQ(msg::fill_buffer(-1), -1);
    EXPECT_TRUE(peer.reads.empty());
    EXPECT_EQ(msg::fill_buffer(1000), 1000);
}

// Needs a fresh process: the slots cannot be emptied once filled.
TEST(Unpack, WithoutReceiveSlotADecoderFailsLikeAFailedRead) {
    if (msg::receive_slot() != nullptr) {
        GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    }
    int32_t value = 0;
    EXPECT_EQ(UnpackInteger(&value), -1);
    EXPECT_EQ(take_pushes(), (std::vector<Push>{{"unpack_header", 54}, {"UnpackInteger", 54}}));
}

TEST(Unpack, FreeOfNullDoesNothing) {
    EXPECT_EQ(UnpackFree(nullptr), 0);
}

TEST(Unpack, DecimalReaderAgreesWithAtoi) {
    const std::vector<std::string> texts = {"", "0", "42", "-42", "+42", " \t\n\v\f\r7", "4x2", "x42",
                                            "--4", "- 4", "-", "0009999", "-999999", "9999999", " -0"};
    for (const std::string &t : texts) {
        EXPECT_EQ(msg::parse_decimal(t.c_str(), static_cast<int32_t>(t.size())), std::atoi(t.c_str())) << t;
    }
}

namespace {

// One value of a random message, and how old peers would write it.
struct Field {
    Kind kind = Kind::integer;
    bool null = false;
    int32_t value = 0;
    std::string data;
};

std::string header_text(char tag, long value) {
    char text[16];
    std::snprintf(text, sizeof text, value < 0 ? "%c%4.4ld|" : "%c%5.5ld|", tag, value);
    return text;
}

char tag_of(Kind kind) {
    switch (kind) {
    case Kind::string: return 's';
    case Kind::function: return '#';
    case Kind::boolean: return 'b';
    case Kind::integer: return 'i';
    case Kind::return_code: return 'r';
    case Kind::bytes: return 'a';
    }
    return '?';
}

std::string reference_bytes(const Field &f) {
    const char tag = tag_of(f.kind);
    if (f.kind == Kind::return_code) {
        return header_text(tag, f.value);
    }
    if (f.null) {
        return header_text(tag, -1);
    }
    std::string data = f.data;
    if (f.kind == Kind::boolean || f.kind == Kind::integer) {
        data = std::to_string(f.value);
    }
    return header_text(tag, static_cast<long>(data.size())) + data + "|";
}

int32_t pack(const Field &f) {
    const char *text = f.null ? nullptr : f.data.c_str();
    switch (f.kind) {
    case Kind::string: return PackString(text);
    case Kind::function: return PackFunctionName(text);
    case Kind::boolean: return PackBoolean(f.value);
    case Kind::integer: return PackInteger(f.value);
    case Kind::return_code: return PackReturnCode(f.value);
    case Kind::bytes: return PackByteArray(text, static_cast<int32_t>(f.data.size()));
    }
    return -1;
}

class RandomFields {
public:
    explicit RandomFields(unsigned seed) : rng_(seed) {}

    Field next() {
        Field f;
        f.kind = static_cast<Kind>(pick(0, 5));
        f.null = (f.kind == Kind::string || f.kind == Kind::function || f.kind == Kind::bytes) &&
                 pick(0, 9) == 0;
        switch (f.kind) {
        case Kind::boolean: f.value = pick(0, 7) == 0 ? pick(-999999, 9999999) : pick(0, 9); break;
        case Kind::integer: f.value = pick(msg::min_number, msg::max_number); break;
        case Kind::return_code: f.value = pick(msg::min_return_code, msg::max_return_code); break;
        default: f.data = bytes(f.kind == Kind::bytes ? 0 : 1); break;
        }
        return f;
    }

private:
    int32_t pick(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng_); }

    // Mostly short, now and then up to the longest field; texts hold no NUL.
    std::string bytes(int32_t lowest) {
        const int32_t len = pick(0, 3) == 0 ? pick(0, msg::max_field_data) : pick(0, 12);
        std::string s(static_cast<std::size_t>(len), '\0');
        for (char &c : s) {
            c = static_cast<char>(pick(lowest, 255));
        }
        return s;
    }

    std::mt19937 rng_;
};

// Pieces of the message as the flush rule cuts it: before a field whose
// request does not fit beside its terminator.
std::vector<int32_t> expected_pieces(const std::vector<Field> &fields) {
    std::vector<int32_t> pieces;
    int32_t used = 0;
    for (const Field &f : fields) {
        const int32_t len = static_cast<int32_t>(reference_bytes(f).size());
        const int32_t asked = f.kind == Kind::return_code ? len + 1 : len;
        if (used + asked + 1 > msg::buffer_cap) {
            pieces.push_back(used);
            used = 0;
        }
        used += len;
    }
    pieces.push_back(used);
    return pieces;
}

void expect_decoded(const Field &f, Decoded &d, const std::string &what) {
    if (f.kind == Kind::bytes && f.null) {
        EXPECT_EQ(d.rc, -1) << what;  // old peers read a null byte array as a failure
        EXPECT_EQ(d.value, -1) << what;
        EXPECT_EQ(take_pushes(), (std::vector<Push>{{"UnpackByteArray", 54}})) << what;
    } else if (f.kind == Kind::boolean && (f.value < 0 || f.value > 9)) {
        EXPECT_EQ(d.rc, -1) << what;
        EXPECT_EQ(take_pushes(), (std::vector<Push>{{"unpack_boolean", 54}, {"UnpackBoolean", 54}})) << what;
    } else if (f.kind == Kind::function && f.null) {
        EXPECT_EQ(d.rc, -1) << what;  // a name cannot be null; its 7 bytes are consumed
        EXPECT_EQ(take_pushes(), (std::vector<Push>{{"unpack_string", 54}, {"UnpackFunctionName", 54}}))
            << what;
    } else if (f.null) {
        EXPECT_EQ(d.rc, 0) << what;
        EXPECT_EQ(d.block, nullptr) << what;
    } else {
        EXPECT_EQ(d.rc, 0) << what;
        const bool has_block = f.kind == Kind::string || f.kind == Kind::function || f.kind == Kind::bytes;
        EXPECT_EQ(has_block ? d.data : std::to_string(d.value),
                  has_block ? f.data : std::to_string(f.value))
            << what;
    }
}

}  // namespace

TEST(Unpack, RandomMessagesRoundTripFieldByFieldAndPieceByPiece) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        RandomFields random(seed);
        std::vector<Field> fields(static_cast<std::size_t>(1 + seed % 40));
        std::string expected;
        MemoryPeer &peer = use_memory_peer();
        for (Field &f : fields) {
            f = random.next();
            expected += reference_bytes(f);
            ASSERT_EQ(pack(f), 0) << "seed " << seed;
        }
        SendBuffer();
        ASSERT_EQ(peer.sent, expected) << "seed " << seed;
        ASSERT_EQ(peer.pieces, expected_pieces(fields)) << "seed " << seed;

        peer.input = peer.sent;
        peer.read_pos = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            Decoded d = decode(fields[i].kind);
            expect_decoded(fields[i], d, "seed " + std::to_string(seed) + " field " + std::to_string(i));
            release(d);
        }
        EXPECT_EQ(peer.unread(), "") << "seed " << seed;
        EXPECT_TRUE(take_pushes().empty()) << "seed " << seed;
    }
}
