// The socket work of `razivu serve` beyond common/net_io.h: the client's
// address and the key its share of workers is counted by, a look at a
// connection that consumes nothing, waits in milliseconds, a deadline over
// a whole call, what reached the client, and lines on standard error that
// never hold the server up. posix/net.cpp and win32/net.cpp implement it;
// address.cpp holds the parts that are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace razivu_tool::net {

// A client's address.
struct Peer {
    std::string addr;   // "a.b.c.d", an IPv6 text, or "local" / "unknown"
    uint16_t port = 0;  // host byte order; 0 when there is none
    std::string key;    // what the per-address share counts by (address_key)
};

// "a.b.c.d:port" ("[v6]:port" for IPv6), or the bare addr without a port.
std::string text(const Peer &peer);

// The key of an IPv6 address (16 bytes, network order): an IPv4 address
// mapped into IPv6 is that IPv4 address, however it came in; any other is
// its /64 prefix ("2001:db8:1:2::/64"), as one subscriber or host is given
// a whole /64 and may use every address in it.
std::string address_key(const unsigned char *v6);

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

// Shuts conn down both ways, so that a read or a send blocked on it returns
// at once. Safe in a signal handler and from another thread.
void cut(int32_t conn);

// A deadline over everything that follows on conn: when ms pass before
// disarm_deadline, the connection is cut. Arming again restarts it.
void arm_deadline(int32_t conn, int32_t ms);
void disarm_deadline();
// True once an armed deadline has passed.
bool deadline_passed();

// Waits up to ms until everything sent on conn has been acknowledged by
// the client, so that what it counts is what arrived.
void wait_delivered(int32_t conn, int32_t ms);
// Bytes sent on conn that the client acknowledged; -1 where the system
// does not count them.
int64_t bytes_delivered(int32_t conn);

// Sockets this process may hold at once, after raising its own limit as far
// as the system lets it (the listening process holds every connection that
// waits for a worker).
std::size_t socket_room();

// Writes a line to standard error in one piece, so that the lines of
// processes writing at once never interleave, and only when standard error
// can take it now: false when it was left out (nobody reads it).
bool write_line(const std::string &line);

}  // namespace razivu_tool::net
