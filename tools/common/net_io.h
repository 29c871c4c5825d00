// The socket calls the tool needs beyond the library's interface, shared by
// its wings: waits on several sockets at once with a time-out in
// milliseconds, reads and writes that take what the socket can take now, a
// half-close, and listening and accepting sockets of its own that never
// hold up an event loop (connections: endpoint.h). `razivu call` bounds a
// whole reply with them, and `razivu proxy` relays both directions of many
// connections. posix/net_io.cpp and win32/net_io.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace razivu_tool::net {

constexpr int32_t none_ready = -2;

// Waits until one of the sockets has data or its peer has closed. Returns
// the index of the first ready one, none_ready after timeout_ms (a negative
// time-out waits without end), or -1 on failure. An interrupted wait goes on
// for the time left.
int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms);

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
// asked; a failed socket counts as ready both ways. The number of sockets
// ready: 0 after the time-out or when a signal interrupted the wait, -1 on
// failure.
int32_t wait_any(std::span<Watch> watched, int32_t timeout_ms);

// One receive of at most cap bytes: the count placed in buf, 0 when the
// peer has closed, -1 on failure (would_block() on a non-blocking socket
// with nothing to read). Interrupted receives are retried.
int32_t receive_some(int32_t s, char *buf, int32_t cap);
// One send of at most len bytes: the count taken, -1 on failure
// (would_block() on a non-blocking socket with no room). A peer that has
// gone is a failure, never a signal.
int32_t send_some(int32_t s, const char *data, int32_t len);
// All of data on a blocking socket; false when a send failed.
bool send_all(int32_t s, const char *data, std::size_t len);
// True when the latest failure was a socket that could not give or take
// anything at once.
bool would_block();

// Ends the sending direction; the peer reads end-of-file after what was sent.
void shutdown_send(int32_t s);
void close_socket(int32_t s);
void set_blocking(int32_t s, bool blocking);

// Reads a dotted IPv4 address of four decimal parts 0 to 255 (nothing else:
// no octal, hex or short forms) into addr_out in network byte order.
bool parse_ipv4(const char *text, uint32_t &addr_out);

// A listening TCP socket on addr:port (both in network byte order) with
// address reuse on; accept_now never waits on it. -1 with why naming the
// step and the system's reason.
int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why);
// A connection waiting on listening, taken without waiting: a blocking
// socket with TCP_NODELAY (replies leave at once). -1 when none waits or on
// failure; would_block() tells them apart.
int32_t accept_now(int32_t listening);
// After a socket of connect_start (endpoint.h) became writable: true when
// it is connected; false with error_text() saying why not.
bool connect_finished(int32_t s);

// The system's text for the latest failure of the calls above.
std::string error_text();
// The system's text for an error code (errno; WinSock's on Windows).
std::string error_text(int code);

}  // namespace razivu_tool::net
