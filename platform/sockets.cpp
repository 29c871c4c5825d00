// The parts of sockets.h that need no system call of their own.
#include "platform/sockets.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace razivu::platform::net {
namespace {

constexpr int ipv4_parts = 4;
constexpr std::size_t max_part_digits = 3;
constexpr int max_part = 255;
// The most one send is asked to take.
constexpr std::size_t send_cap = 1 << 20;

}  // namespace

// A wait of 0 ms that finds nothing ends it: the time is up, where a wait
// that a signal cut short goes on for what is left.
int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<Watch> watched;
    watched.reserve(sockets.size());
    for (const int32_t s : sockets) {
        watched.push_back(Watch{s, true});
    }
    for (;;) {
        int32_t wait = timeout_ms;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            wait = static_cast<int32_t>(std::max<long long>(0, left.count()));
        }
        if (wait_any(watched, wait) < 0) {
            return -1;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].readable) {
                return static_cast<int32_t>(i);
            }
        }
        if (wait == 0) {
            return none_ready;
        }
    }
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

std::string host_port_text(const std::string &host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why) {
    return listen_on(ipv4_endpoint(addr, port), backlog, why);
}

}  // namespace razivu::platform::net
