// Arbitrary values through the packers and back through the decoders. A value
// within the limits must be packed as old peers write it and read back equal;
// one beyond them must be refused with the buffer untouched.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "rpc/message_internal.h"
#include "tests/support/memory_transport.h"
#include "fuzz/quiet_files.h"

namespace {

namespace msg = razivu::message;
using namespace razivu::test;
using razivu::fuzz::check;

constexpr std::size_t max_fields = 24;
constexpr std::size_t max_generated = 1200;  // a little over the longest field

bool accepted(const Field &f) {
    if (f.kind == Kind::return_code) {
        return f.number >= msg::min_return_code && f.number <= msg::max_return_code;
    }
    return has_block(f.kind) ? f.null || f.data.size() <= static_cast<std::size_t>(msg::max_field_data)
                             : f.number >= msg::min_number && f.number <= msg::max_number;
}

// rc and data that decoding a field packed from f gives. Old peers fail a
// null byte array and a boolean beyond one digit.
std::pair<int32_t, std::string> decoded_as(const Field &f) {
    if ((f.null && f.kind == Kind::bytes) || (f.kind == Kind::boolean && (f.number < 0 || f.number > 9))) {
        return {-1, ""};
    }
    return {0, f.null ? "<null>" : has_block(f.kind) ? f.data : std::to_string(f.number)};
}

// Packs one field from the input; a refusal must leave buffer and cursor alone.
bool pack_checked(FuzzedDataProvider &in, Field &f) {
    f.kind = static_cast<Kind>(in.ConsumeIntegralInRange<uint8_t>(0, kind_count - 1));
    const bool null = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0;
    f.null = null && (f.kind == Kind::string || f.kind == Kind::bytes);  // names are never null
    f.number = in.ConsumeIntegral<int32_t>();
    const std::string raw = in.ConsumeRandomLengthString(max_generated);
    f.data = f.kind == Kind::bytes ? raw : std::string(raw.c_str());
    const bool ok = accepted(f);
    const int32_t before = msg::cursor();
    static char image[msg::buffer_cap];
    std::memcpy(image, msg::buffer_start(), sizeof image);
    check(razivu_tool::pack(f) == (ok ? 0 : -1));
    check(ok || (msg::cursor() == before && std::memcmp(image, msg::buffer_start(), sizeof image) == 0));
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    razivu::fuzz::quiet_files();
    FuzzedDataProvider in(data, size);
    MemoryPeer &peer = use_memory_peer();
    std::vector<Field> fields;
    std::string expected;
    while (fields.size() < max_fields && in.remaining_bytes() > 0) {
        Field f{};
        if (pack_checked(in, f)) {
            expected += wire_bytes(f);
            fields.push_back(std::move(f));
        }
    }
    SendBuffer();
    check(peer.sent == expected);
    for (int32_t piece : peer.pieces) {
        check(piece >= 0 && piece < msg::buffer_cap);
    }
    peer.input = peer.sent;
    for (const Field &f : fields) {
        const Decoded d = decode_field(f.kind);
        const auto [rc, text] = decoded_as(f);
        check(d.rc == rc && (rc != 0 || d.data == text));
        release(d);
    }
    check(peer.read_pos == peer.input.size());
    return 0;
}
