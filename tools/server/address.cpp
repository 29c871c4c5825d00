// The parts of net.h that need no system call.
#include "server/net.h"

#include <cstdio>

namespace razivu_tool::net {
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

}  // namespace razivu_tool::net
