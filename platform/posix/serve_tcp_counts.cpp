// What reached the client, as the kernel counts it. In a file of its own:
// <linux/tcp.h> has the counts and clashes with <netinet/tcp.h>.
#include <algorithm>
#include <cerrno>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>

#include "platform/serving.h"

namespace razivu::platform::net {
namespace {

// How often wait_delivered looks again.
constexpr int look_ms = 5;
// The kernel's number of the state after a reset.
constexpr uint8_t state_closed = 7;

}  // namespace

// A connection reset by the client keeps its unacknowledged bytes queued:
// nothing more will arrive then.
void wait_delivered(int32_t conn, int32_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (int queued = 0; ::ioctl(conn, SIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < until;) {
        tcp_info info{};
        socklen_t len = sizeof info;
        if (::getsockopt(conn, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 || info.tcpi_state == state_closed) {
            return;
        }
        ::poll(nullptr, 0, look_ms);
    }
}

// The acknowledged count also counts the FIN once it is acknowledged, and
// the count of data sent (retransmissions once) never does: the smaller is
// what arrived. Kernels too old for a field leave it 0.
int64_t bytes_delivered(int32_t conn) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(conn, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
        return -1;
    }
    return static_cast<int64_t>(std::min(info.tcpi_bytes_acked, info.tcpi_bytes_sent - info.tcpi_bytes_retrans));
}

}  // namespace razivu::platform::net
