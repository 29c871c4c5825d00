// Plain socket calls that never hold up an event loop: waits on several
// sockets with a time-out in milliseconds, reads and writes that take what
// the socket can take now, a half-close, and listening, accepting and
// connecting sockets of either family. Interrupted calls are retried and a
// peer that has gone is a failure, never a signal. They keep no state but
// the latest failure and use nothing else of the library, so the server
// (serving.h) calls them and the razivu tool compiles them in.
// posix/sockets.cpp and win32/sockets.cpp; sockets.cpp holds the parts that
// are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace razivu::platform::net {

// ---- Waits ---------------------------------------------------------------------------

// A socket to wait for, what for, and what it turned out to be.
struct Watch {
    int32_t socket = -1;
    bool read = false;   // data, a connection to accept, or the peer's end
    bool write = false;  // room to send, or a connect that has finished
    bool readable = false;
    bool writable = false;
};
// The most sockets wait_any watches at once where the system bounds it
// (select() on Windows); poll() on Linux takes any number.
constexpr std::size_t max_watched_sockets = 1024;
// Waits up to timeout_ms (negative: without end) until a socket is ready as
// asked; a failed socket, or a connect that failed, counts as ready both
// ways. The number of sockets ready: 0 after the time-out or when a signal
// interrupted the wait, -1 on failure.
int32_t wait_any(std::span<Watch> watched, int32_t timeout_ms);

constexpr int32_t none_ready = -2;
// Waits until one of the sockets has data or its peer has closed. Returns
// the index of the first ready one, none_ready after timeout_ms (a negative
// time-out waits without end), or -1 on failure. An interrupted wait goes on
// for the time left.
int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms);

// ---- Data ----------------------------------------------------------------------------

// One receive of at most cap bytes: the count placed in buf, 0 when the
// peer has closed, -1 on failure (would_block() on a non-blocking socket
// with nothing to read).
int32_t receive_some(int32_t s, char *buf, int32_t cap);
// One send of at most len bytes: the count taken, -1 on failure
// (would_block() on a non-blocking socket with no room).
int32_t send_some(int32_t s, const char *data, int32_t len);
// All of data on a blocking socket; false when a send failed.
bool send_all(int32_t s, const char *data, std::size_t len);

// Ends the sending direction; the peer reads end-of-file after what was sent.
void shutdown_send(int32_t s);
void close_socket(int32_t s);
void set_blocking(int32_t s, bool blocking);

// ---- Failures ------------------------------------------------------------------------

// True when the latest failure was a socket that could not give or take
// anything at once.
bool would_block();
// True when the latest failure was the system short of descriptors or
// memory for a new socket (it may pass).
bool short_of_resources();
// The system's text for the latest failure of the calls here.
std::string error_text();
// The system's text for an error code (errno; GetLastError's or WinSock's
// on Windows).
std::string error_text(int code);

// ---- Addresses -----------------------------------------------------------------------

// Room for a socket address of any family the system has.
constexpr std::size_t endpoint_cap = 128;

struct Endpoint {
    unsigned char bytes[endpoint_cap] = {};  // the system's socket address
    uint32_t len = 0;                        // bytes of it in use
};

// addr:port of IPv4, both in network byte order.
Endpoint ipv4_endpoint(uint32_t addr, uint16_t port);
// Reads a dotted IPv4 address of four decimal parts 0 to 255 (nothing else:
// no octal, hex or short forms) into addr_out in network byte order.
bool parse_ipv4(const char *text, uint32_t &addr_out);

// "127.0.0.1:7000", "[::1]:7000": host and port, the host of IPv6 in brackets.
std::string host_port_text(const std::string &host, uint16_t port);
std::string endpoint_text(const Endpoint &e);

// The address socket s is bound to (the port the system chose for port 0).
bool local_endpoint(int32_t s, Endpoint &out);

// ---- Connections ---------------------------------------------------------------------
// Every socket made here is the caller's own: a process it starts does not
// inherit it (a connection would never see its end, a listening socket would
// go on taking connections).

// A listening socket on e with address reuse on; accept_now never waits on
// it. Whether one on the IPv6 address :: takes IPv4 clients too is the
// system's choice (Linux: yes, by default; Windows: no). -1 with why naming
// the step, the address and the system's reason.
int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why);
// listen_on for IPv4 addr:port (network byte order; port 0: one the system
// picks).
int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why);
// A connection waiting on listening, taken without waiting: a blocking
// socket with TCP_NODELAY (replies leave at once). -1 when none waits or on
// failure; would_block() tells them apart.
int32_t accept_now(int32_t listening);

// Begins a connection to e without waiting: the socket, which becomes
// writable once the connect has ended (connect_finished then tells how), or
// -1 with why.
int32_t connect_start(const Endpoint &e, std::string &why);
// After a socket of connect_start became writable: true when it is
// connected; false with error_text() saying why not.
bool connect_finished(int32_t s);

}  // namespace razivu::platform::net
