// The byte-order conversions, the same on every platform.
#include <bit>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

constexpr bool little_endian = std::endian::native == std::endian::little;

constexpr uint16_t swap16(uint16_t v) {
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

constexpr uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00U) | ((v << 8) & 0xFF0000U) | (v << 24);
}

}  // namespace

uint32_t host_to_net32(uint32_t v) {
    return little_endian ? swap32(v) : v;
}

uint16_t host_to_net16(uint16_t v) {
    return little_endian ? swap16(v) : v;
}

uint32_t net_to_host32(uint32_t v) {
    return host_to_net32(v);
}

uint16_t net_to_host16(uint16_t v) {
    return host_to_net16(v);
}

}  // namespace razivu::platform
