// The parts of net_io.h that are the same on every system.
#include "common/net_io.h"

#include <algorithm>
#include <cstring>

#include "common/numbers.h"

namespace razivu_tool::net {
namespace {

constexpr int ipv4_parts = 4;
constexpr std::size_t max_part_digits = 3;
constexpr int64_t max_part = 255;
// The most one send is asked to take.
constexpr std::size_t send_cap = 1 << 20;

}  // namespace

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
        char part[max_part_digits + 1] = {};
        std::memcpy(part, at, digits);
        int64_t value = 0;
        if (!parse_integer(part, 0, max_part, value)) {
            return false;
        }
        bytes[i] = static_cast<unsigned char>(value);
        at += digits + 1;
    }
    std::memcpy(&addr_out, bytes, sizeof addr_out);  // the bytes in wire order
    return true;
}

}  // namespace razivu_tool::net
