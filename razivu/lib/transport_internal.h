// Inner steps of the socket transport, shared by its sources and reached by
// the tests and the loopback benchmark. Not part of the public interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace razivu::transport {

// The service name and remembered host name: longer names are refused as
// not found rather than cut into another name.
constexpr std::size_t service_name_cap = 50;  // 49 characters and the terminator
constexpr std::size_t host_name_cap = 96;     // 95 characters and the terminator
// What the system answers for a service or port that does not exist.
constexpr int16_t no_port = -1;
// Backlog of a listening socket.
constexpr int32_t listen_backlog = 2;
// Time-out of COMReceiveWithTimeout, in seconds.
constexpr int32_t receive_timeout_seconds = 30;
// The dump of a traced buffer: at most 999 characters and the terminator.
constexpr std::size_t dump_cap = 1000;

// ---- Handles -----------------------------------------------------------------------
//
// The transport closes a socket itself when an operation on it fails, and the
// caller may still close it afterwards. On Linux the number is handed out
// again at once, so that second close could hit an unrelated file. A handle
// the transport closed on its own is therefore retired: operations on it fail
// with EBADF and touch nothing, until the caller's own COMCloseSock (refused
// the same way) releases it, or the library opens that number again. Handles
// the caller closed itself, and handles the library never saw, reach the
// system as they are, as with any descriptor.

// A socket the library has just opened or accepted.
void adopt(int32_t s);
// True when the transport closed s after a failure and the caller has not
// closed it since.
bool is_retired(int32_t s);
// Closes s after an operation on it failed and retires it; pushes a system
// error for COMCloseSock when the system's close fails too.
void close_after_failure(int32_t s);
// Closes s for the caller (COMCloseSock): the system's result.
int32_t close_for_caller(int32_t s);
// Sets errno to EBADF and pushes a system error for function when s is
// retired; returns true in that case. release ends the retirement.
bool refuse_retired(int32_t s, const char *function, bool release = false);

// ---- Latency -------------------------------------------------------------------------
//
// A message longer than the buffer leaves in pieces, one COMSend each. With
// Nagle's algorithm the second piece would wait for an acknowledgement that
// the peer delays, so new connections get TCP_NODELAY. Then each piece would
// leave as a segment of its own and wake the peer once per piece; instead a
// piece that the message layer flushes with more of the same message to
// follow may wait in the socket (MSG_MORE), and the final piece, sent without
// it, takes everything along. Not a byte on the wire changes, only how the
// bytes are cut into segments. Should a message never be finished, the first
// read or poll on the socket sends what waits (and the system does after
// about 200 ms).

// Both of the above on new connections and sends; on unless switched off
// (the benchmark does, to show what they save).
void set_low_latency(bool on);
// Sets up a new connection as set_low_latency says. A failure only costs
// speed and is not reported.
void tune_connection(int32_t s);
// Called by the message layer right before it flushes the count bytes at
// buffer to s with more of the message to follow; only the COMSend of exactly
// that piece, if it comes next, lets it wait.
void message_continues(int32_t s, const char *buffer, int32_t count);
// The send flags of COMSend for one piece.
int32_t piece_flags(int32_t s, const char *buffer, int32_t count);
// A send with these flags went through on s.
void sent(int32_t s, int32_t flags);
// Sends at once whatever s holds back; called before every wait for data.
void push_held(int32_t s);

// ---- Trace dumps ---------------------------------------------------------------------

// The dump text of a buffer: its text up to the first NUL byte, at most count
// and at most dump_cap - 1 bytes; empty for a null buffer or a count of 0 or
// less. out holds dump_cap bytes. Returns out.
char *dump_text(const char *buffer, int32_t count, char *out);

}  // namespace razivu::transport
