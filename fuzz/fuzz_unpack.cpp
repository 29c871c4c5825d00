// Arbitrary peer bytes through the receive slot into a sequence of decoders
// chosen by the input. No decoder may read past what it owns, and what a
// successful decoder hands out must be within the limits of the format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "razivu/lib/message_internal.h"
#include "tests/support/memory_transport.h"

namespace {

namespace msg = razivu::message;

// Input layout: one byte for the number of decoders, one byte per decoder
// choosing its kind, then the bytes the peer sends.
constexpr std::size_t max_decoders = 16;
constexpr int kinds = 6;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void check_text(int32_t rc, char *text) {
    if (rc == 0 && text != nullptr) {
        check(std::strlen(text) <= static_cast<std::size_t>(msg::max_body_len));
    }
    UnpackFree(text);
}

void run_decoder(int choice) {
    char *block = nullptr;
    int32_t value = 0;
    switch (choice) {
    case 0: check_text(UnpackString(&block), block); break;
    case 1: check_text(UnpackFunctionName(&block), block); break;
    case 2: UnpackBoolean(&value); break;
    case 3: check(UnpackInteger(&value) != 0 || (value >= msg::min_number && value <= msg::max_number)); break;
    case 4: UnpackReturnCode(&value); break;
    default: {
        const int32_t rc = UnpackByteArray(&block, &value);
        check(rc == 0 ? value >= 0 && value <= msg::max_body_len : block == nullptr);
        UnpackFree(block);
    }
    }
    check(msg::cursor() >= 0 && msg::cursor() <= msg::buffer_cap);
}

// The decimal reader against atoi on the first bytes, which the header and
// integer readers take as text.
void check_decimal(const uint8_t *data, std::size_t size) {
    char text[msg::number_text_cap] = {};
    const std::size_t n = size < static_cast<std::size_t>(msg::max_number_text) ? size : msg::max_number_text;
    std::memcpy(text, data, n);
    check(msg::parse_decimal(text, static_cast<int32_t>(n)) == std::atoi(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
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
    razivu::test::MemoryPeer &peer = razivu::test::use_memory_peer(
        std::string(reinterpret_cast<const char *>(stream), size - 1 - n_decoders));
    peer.report_short_read = false;
    for (std::size_t i = 0; i < n_decoders; ++i) {
        run_decoder(choices[i] % kinds);
        check(peer.read_pos <= peer.input.size());
    }
    razivu::test::take_pushes();
    return 0;
}
