// The parts of serving.h that need no system call.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/serving.h"

namespace razivu::platform::net {
namespace {

// Bytes of an IPv6 address, of its /64 prefix, and where a mapped IPv4
// address begins (after ten zero bytes and two 0xff).
constexpr int v6_len = 16;
constexpr int prefix_len = 8;
constexpr int mapped_at = 12;
constexpr int ipv4_parts = 4;
constexpr std::size_t max_part_digits = 3;
constexpr int max_part = 255;
// The most one send is asked to take.
constexpr std::size_t send_cap = 1 << 20;

bool is_mapped_ipv4(const unsigned char *v6) {
    for (int i = 0; i < mapped_at; ++i) {
        if (v6[i] != (i < 10 ? 0x00 : 0xff)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string text(const Peer &peer) {
    if (peer.port == 0) {
        return peer.addr;
    }
    const bool v6 = peer.addr.find(':') != std::string::npos;
    return (v6 ? "[" + peer.addr + "]" : peer.addr) + ":" + std::to_string(peer.port);
}

std::string address_key(const unsigned char *v6) {
    char key[48];
    if (is_mapped_ipv4(v6)) {
        std::snprintf(key, sizeof key, "%u.%u.%u.%u", v6[mapped_at], v6[mapped_at + 1], v6[mapped_at + 2],
                      v6[mapped_at + 3]);
        return key;
    }
    unsigned groups[prefix_len / 2];
    for (int i = 0; i < prefix_len; i += 2) {
        groups[i / 2] = static_cast<unsigned>(v6[i] << 8 | v6[i + 1]);
    }
    std::snprintf(key, sizeof key, "%x:%x:%x:%x::/64", groups[0], groups[1], groups[2], groups[3]);
    static_assert(v6_len == 2 * prefix_len);
    return key;
}

bool parse_ipv4(const char *text, uint32_t &addr_out) {
    if (text == nullptr) {
        return false;
    }
    unsigned char bytes[ipv4_parts] = {};
    const char *at = text;
    for (int i = 0; i < ipv4_parts; ++i) {
        const std::size_t digits = std::strspn(at, "0123456789");
        const char end = at[digits];
        if (digits == 0 || digits > max_part_digits || end != (i + 1 < ipv4_parts ? '.' : '\0')) {
            return false;
        }
        int value = 0;
        for (std::size_t d = 0; d < digits; ++d) {
            value = value * 10 + (at[d] - '0');
        }
        if (value > max_part) {
            return false;
        }
        bytes[i] = static_cast<unsigned char>(value);
        at += digits + 1;
    }
    std::memcpy(&addr_out, bytes, sizeof addr_out);  // the bytes in wire order
    return true;
}

bool send_all(int32_t s, const char *data, std::size_t len) {
    for (std::size_t done = 0; done < len;) {
        const int32_t n = send_some(s, data + done, static_cast<int32_t>(std::min(len - done, send_cap)));
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace razivu::platform::net
