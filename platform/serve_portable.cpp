// The parts of serving.h that need no system call of their own.
#include <algorithm>
#include <cstdio>

#include "platform/serving.h"

namespace razivu::platform::net {
namespace {

// Bytes of an IPv6 address, of its /64 prefix, and where a mapped IPv4
// address begins (after ten zero bytes and two 0xff).
constexpr int v6_len = 16;
constexpr int prefix_len = 8;
constexpr int mapped_at = 12;

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
    return peer.port == 0 ? peer.addr : host_port_text(peer.addr, peer.port);
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

// A reset or any other failure ends the connection as surely as a close.
Ready wait_for_data(int32_t conn, int32_t ms) {
    const int32_t ready = wait_readable({&conn, 1}, std::max(ms, 0));
    return ready == none_ready ? Ready::none : ready < 0 ? Ready::end : peek(conn);
}

}  // namespace razivu::platform::net
