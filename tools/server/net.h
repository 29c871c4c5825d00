// The socket work of `razivu serve` that the library's interface leaves to
// the program: a listening socket on a chosen address and backlog, the
// peer's address, a look at a connection that consumes nothing, waits in
// milliseconds, a deadline over a whole call, and the connection's byte
// counts. posix/net.cpp and win32/net.cpp implement it; ipv4.cpp holds the
// parts that are the same everywhere.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool::net {

// A client's address; addr is the key that the per-address bound counts by.
struct Peer {
    std::string addr;   // "a.b.c.d", an IPv6 text, or "local" / "unknown"
    uint16_t port = 0;  // host byte order; 0 when there is none
};

// "a.b.c.d:port" ("[v6]:port" for IPv6), or the bare addr without a port.
std::string text(const Peer &peer);

// Reads a dotted IPv4 address of four decimal parts 0 to 255 (nothing else:
// no octal, hex or short forms) into addr_out in network byte order.
bool parse_ipv4(const char *text, uint32_t &addr_out);

// A listening TCP socket on addr:port (both in network byte order) with
// address reuse on. -1 with why naming the step and the system's reason.
int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why);

// One end of a socket: the peer of a connection, or the local address.
// addr is "unknown" when it cannot be read.
enum class Side { local, peer };
Peer address_of(int32_t s, Side side);

// What the client has sent that is not read yet.
enum class Ready {
    data,  // at least one byte
    end,   // the client closed its side (or the connection broke)
    none,  // nothing yet
};
// Looks without reading or waiting.
Ready peek(int32_t conn);
// Waits up to ms for data or the end, then looks.
Ready wait_for_data(int32_t conn, int32_t ms);

// A deadline over everything that follows on conn: when ms pass before
// disarm_deadline, the connection is shut down, so that a read or a send
// blocked on a client that drips or does not read returns at once.
void arm_deadline(int32_t conn, int32_t ms);
void disarm_deadline();
// True once an armed deadline has passed.
bool deadline_passed();

// Bytes received from and sent to the client so far.
struct Counts {
    uint64_t in = 0;
    uint64_t out = 0;
    bool counted = false;  // false where the system does not count them
};
Counts counts(int32_t conn);

// Writes a line to standard error in one piece, so that the lines of
// workers writing at once never interleave.
void write_line(const std::string &line);

}  // namespace razivu_tool::net
