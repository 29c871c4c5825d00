// Arbitrary values through the packers and back through the decoders. A value
// within the limits must be packed and read back equal; one beyond them must
// be refused with the buffer untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "razivu/lib/message_internal.h"
#include "tests/support/memory_transport.h"

namespace {

namespace msg = razivu::message;

constexpr std::size_t max_fields = 24;
constexpr std::size_t max_generated = 1200;  // a little over the longest field

enum class Kind : uint8_t { string, function, boolean, integer, return_code, bytes, count };

struct Field {
    Kind kind;
    bool null;
    int32_t value;
    std::string data;  // as the decoder will see it: a text ends at its first NUL
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool accepted(const Field &f, std::size_t data_len) {
    switch (f.kind) {
    case Kind::boolean:
    case Kind::integer: return f.value >= msg::min_number && f.value <= msg::max_number;
    case Kind::return_code: return f.value >= msg::min_return_code && f.value <= msg::max_return_code;
    default: return f.null || data_len <= static_cast<std::size_t>(msg::max_field_data);
    }
}

int32_t pack(const Field &f, const std::string &raw) {
    const char *p = f.null ? nullptr : raw.c_str();
    switch (f.kind) {
    case Kind::string: return PackString(p);
    case Kind::function: return PackFunctionName(p);
    case Kind::boolean: return PackBoolean(f.value);
    case Kind::integer: return PackInteger(f.value);
    case Kind::return_code: return PackReturnCode(f.value);
    default: return PackByteArray(p, static_cast<int32_t>(raw.size()));
    }
}

// Packs one field; returns whether it was accepted, after checking that a
// refusal left buffer and cursor alone.
bool pack_checked(FuzzedDataProvider &in, Field &f) {
    f.kind = static_cast<Kind>(in.ConsumeIntegralInRange<uint8_t>(0, static_cast<uint8_t>(Kind::count) - 1));
    f.null = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0;
    f.value = in.ConsumeIntegral<int32_t>();
    const std::string raw = in.ConsumeRandomLengthString(max_generated);
    f.data = f.kind == Kind::bytes ? raw : std::string(raw.c_str());
    const bool ok = accepted(f, f.data.size());
    const int32_t before = msg::cursor();
    const std::string image(msg::buffer_start(), msg::buffer_cap);
    check(pack(f, raw) == (ok ? 0 : -1));
    if (!ok) {
        check(msg::cursor() == before && image == std::string(msg::buffer_start(), msg::buffer_cap));
    }
    return ok;
}

void expect_text(int32_t rc, char *text, const Field &f) {
    check(rc == 0);
    check(f.null ? text == nullptr : text != nullptr && f.data == text);
    UnpackFree(text);
}

void decode_checked(const Field &f) {
    char *block = nullptr;
    int32_t value = 0;
    switch (f.kind) {
    case Kind::string: expect_text(UnpackString(&block), block, f); break;
    case Kind::function:
        // A null name has a negative length, which the name decoder refuses.
        if (f.null) {
            check(UnpackFunctionName(&block) == -1);
        } else {
            expect_text(UnpackFunctionName(&block), block, f);
        }
        break;
    case Kind::boolean: {
        const bool one_digit = f.value >= 0 && f.value <= 9;
        check(UnpackBoolean(&value) == (one_digit ? 0 : -1) && (!one_digit || value == f.value));
        break;
    }
    case Kind::integer: check(UnpackInteger(&value) == 0 && value == f.value); break;
    case Kind::return_code: check(UnpackReturnCode(&value) == 0 && value == f.value); break;
    default: {
        const int32_t rc = UnpackByteArray(&block, &value);
        check(f.null ? rc == -1 && block == nullptr && value == -1
                     : rc == 0 && f.data == std::string(block, static_cast<std::size_t>(value)));
        UnpackFree(block);
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    razivu::test::MemoryPeer &peer = razivu::test::use_memory_peer();
    std::vector<Field> fields;
    while (fields.size() < max_fields && in.remaining_bytes() > 0) {
        Field f{};
        if (pack_checked(in, f)) {
            fields.push_back(std::move(f));
        }
    }
    SendBuffer();
    for (int32_t piece : peer.pieces) {
        check(piece >= 0 && piece < msg::buffer_cap);
    }
    peer.input = peer.sent;
    for (const Field &f : fields) {
        decode_checked(f);
    }
    check(peer.read_pos == peer.input.size());
    razivu::test::take_pushes();
    return 0;
}
