// Inner steps of the socket transport, shared by its sources and reached by
// the tests and the loopback benchmark. Not part of the public interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "razivu/message.h"

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
// A message longer than the buffer leaves in pieces, one send each. With
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
// The send flags for a piece on s; more says that the rest of its message
// follows. A piece is held back only on a socket the library tuned.
int32_t piece_flags(int32_t s, bool more);
// A send with these flags went through on s.
void sent(int32_t s, int32_t flags);
// Sends at once whatever s holds back; called before every wait for data.
void push_held(int32_t s);
// s was closed: its number keeps no tuning.
void forget_tuning(int32_t s);

// ---- The send path ---------------------------------------------------------------------
//
// message layer -> send_piece -> write_piece -> the system's send. Pieces
// the message layer flushes carry more = true down to the socket, so the
// hold decision is made from the piece itself, never guessed afterwards.

// Sends one piece of a message through the send slot. With the library's
// own COMSend in the slot, more reaches the socket; any other send function
// gets the piece as it always does.
int32_t send_piece(RazivuTransportFn slot, int32_t s, char *buffer, int32_t count, bool more);
// COMWriteSock with the hold decision for the piece: one send, the socket
// closed after a failure or a short count.
int32_t write_piece(int32_t s, const char *buffer, int32_t count, int32_t flags, bool more);

// ---- Trace dumps ---------------------------------------------------------------------

// The dump text of a buffer: its text up to the first NUL byte, at most count
// and at most dump_cap - 1 bytes; empty for a null buffer or a count of 0 or
// less. out holds dump_cap bytes. Returns out.
char *dump_text(const char *buffer, int32_t count, char *out);

}  // namespace razivu::transport
