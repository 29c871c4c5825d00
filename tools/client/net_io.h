// The socket calls the tool needs beyond the library's interface: waiting on
// several sockets at once with a time-out in milliseconds, taking whatever
// bytes have arrived without waiting for an exact count, and a half-close.
// `razivu call` bounds a whole reply with them, `razivu proxy` relays both
// directions of a connection. posix/net.cpp and win32/net.cpp.
#pragma once

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

// One receive of at most cap bytes on a socket that is ready: the count
// placed in buf, 0 when the peer has closed, -1 on failure. Interrupted
// receives are retried.
int32_t receive_some(int32_t s, char *buf, int32_t cap);

// Ends the sending direction; the peer reads end-of-file after what was sent.
void shutdown_send(int32_t s);

// The system's text for the latest failure of the calls above.
std::string error_text();

}  // namespace razivu_tool::net
