// Arbitrary peer bytes through the receive slot into a sequence of decoders
// chosen by the input. No decoder may read past what it owns, and what a
// successful decoder hands out must be within the limits of the format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rpc/message_internal.h"
#include "tests/support/memory_transport.h"
#include "fuzz/quiet_files.h"

namespace {

namespace msg = razivu::message;
using namespace razivu::test;
using razivu::fuzz::check;

// Input layout: one byte for the number of decoders, one byte per decoder
// choosing its kind, then the bytes the peer sends.
constexpr std::size_t max_decoders = 16;

// Copying the block out reads all of it, so a short or unterminated block
// shows under the sanitizers.
void run_decoder(Kind kind) {
    const Decoded d = decode_field(kind);
    if (d.rc == 0 && has_block(kind) && d.block != nullptr) {
        check(d.data.size() <= static_cast<std::size_t>(msg::max_body_len));
    }
    check(d.rc == 0 || kind != Kind::bytes || d.block == nullptr);
    check(d.rc != 0 || kind != Kind::integer || (d.value >= msg::min_number && d.value <= msg::max_number));
    release(d);
    check(msg::cursor() >= 0 && msg::cursor() <= msg::buffer_cap);
}

// The decimal reader against atoi on the first bytes.
void check_decimal(const uint8_t *data, std::size_t size) {
    char text[msg::number_text_cap] = {};
    const std::size_t n = std::min(size, static_cast<std::size_t>(msg::max_number_text));
    std::memcpy(text, data, n);
    check(msg::parse_decimal(text, static_cast<int32_t>(n)) == std::atoi(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    razivu::fuzz::quiet_files();
    if (size == 0) {
        return 0;
    }
    check_decimal(data, size);
    const std::size_t n_decoders = 1 + data[0] % max_decoders;
    if (size < 1 + n_decoders) {
        return 0;
    }
    const uint8_t *choices = data + 1;
    const uint8_t *stream = choices + n_decoders;
    MemoryPeer &peer = use_memory_peer(std::string(reinterpret_cast<const char *>(stream), size - 1 - n_decoders));
    peer.report_short_read = false;
    for (std::size_t i = 0; i < n_decoders; ++i) {
        run_decoder(static_cast<Kind>(choices[i] % kind_count));
        check(peer.read_pos <= peer.input.size());
    }
    return 0;
}
