// The byte counts of a connection, as the kernel keeps them. In a file of
// its own: <linux/tcp.h> has them and clashes with <netinet/tcp.h>.
#include "server/net.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace razivu_tool::net {
namespace {

// The kernel's number of the state after a reset, which leaves open whether
// the peer's FIN came first: the received count is then not taken.
constexpr uint8_t state_closed = 7;
// The kernel's numbers of the states that follow the peer's FIN, which the
// received count includes as one byte.
constexpr uint8_t fin_received_states[] = {
    6,   // TIME_WAIT
    8,   // CLOSE_WAIT
    9,   // LAST_ACK
    11,  // CLOSING
};

bool fin_received(uint8_t state) {
    for (uint8_t s : fin_received_states) {
        if (s == state) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Retransmitted bytes are counted once. Kernels too old for a field leave
// it 0, which reads as nothing counted.
Counts counts(int32_t conn) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(conn, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
        return Counts{};
    }
    const uint64_t out = info.tcpi_bytes_sent - info.tcpi_bytes_retrans;
    if (info.tcpi_state == state_closed) {
        return Counts{0, out, true};
    }
    const uint64_t fin = fin_received(info.tcpi_state) && info.tcpi_bytes_received > 0 ? 1 : 0;
    return Counts{info.tcpi_bytes_received - fin, out, true};
}

}  // namespace razivu_tool::net
