// Inner steps of the socket transport, shared by its sources and reached by
// the tests and the loopback benchmark. Not part of the public interface.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
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
// again at once, so that second close could hit an unrelated socket. A handle
// the transport closed on its own is therefore retired, with the identity the
// socket had (platform::SocketIdentity):
// - while the number names nothing, or the same socket, operations on it fail
//   with EBADF and touch nothing; the caller's own COMCloseSock is refused the
//   same way and ends the retirement;
// - once the number names a different open socket (made by other code, or
//   passed in by inetd or systemd), the first operation decides: a read,
//   write, poll or read-ahead switch is the new owner's and is served, which
//   ends the retirement; a close is taken as the old caller's late close and
//   is refused, which ends it too. Either way the number is free afterwards.
// Negative handles (the -1 of a failed connect) fail at once with EBADF in
// every operation. Handles the library never saw reach the system as they are.

// A socket the library has just opened or accepted.
void adopt(int32_t s);
// True when the transport closed s after a failure and no operation since
// has ended the retirement.
bool is_retired(int32_t s);
// Closes s after an operation on it failed and retires it; pushes a system
// error for COMCloseSock when the system's close fails too.
void close_after_failure(int32_t s);
// Closes s for the caller (COMCloseSock): the system's result.
int32_t close_for_caller(int32_t s);
// True, with errno EBADF and a system error pushed for function, when s may
// not be used (see above); closing says the operation is COMCloseSock.
bool refuse_handle(int32_t s, const char *function, bool closing = false);

// ---- Interrupted calls ---------------------------------------------------------------

// Runs a blocking socket call again for as long as a signal interrupts it.
template <typename Call>
int32_t retry_interrupted(Call call) {
    int32_t rc = call();
    while (rc == -1 && platform::last_errno() == EINTR) {
        rc = call();
    }
    return rc;
}

// ---- Read-ahead -------------------------------------------------------------------------
//
// Off by default: the format reads every field in two exact counts, and a
// read never takes bytes of the next field. Switched on for a socket
// (COMSetSockReadAhead, or RAZIVU_READAHEAD=1 for every socket the library
// opens or accepts), reads are served from a buffer of the socket's own that
// one large recv fills. Nothing received is lost: switched off, the buffer is
// served first; only closing the socket drops it.

// Bytes one fill asks for.
constexpr int32_t read_ahead_cap = 16384;
// Pieces of one message gathered at most before they are sent anyway.
constexpr std::size_t gather_cap = 65536;

// Switches read-ahead on or off for an open socket.
void set_read_ahead(int32_t s, bool on);
// Switches it on for a new socket when RAZIVU_READAHEAD is 1.
void start_read_ahead_if_asked(int32_t s);
// The socket closed: its buffer goes.
void drop_read_ahead(int32_t s);
// Bytes waiting in the socket's buffer.
int32_t buffered_bytes(int32_t s);
bool has_buffered(int32_t s);
// One recv as COMReadSock's loop makes it: from the buffer when it holds
// bytes, else from the socket (retried on EINTR). 0 means the peer closed.
int32_t receive_some(int32_t s, char *buffer, int32_t count, int32_t flags);
// COMReadSock of n > 0 bytes on s without its copy, for a read that it would
// serve from the buffer alone: read-ahead on, at least n bytes buffered and
// nothing waiting to be sent first. Returns where the bytes lie, valid until
// the buffer is refilled or dropped (message::keep_last_read is called before
// either), or nullptr, taking nothing, when the read must go through
// COMReadSock.
// *id_out names the buffer's allocation, for copy_lent.
const char *take_buffered(int32_t s, int32_t n, uint64_t *id_out);
// take_buffered right after one that succeeded on s, with nothing done to s
// in between: only the count is checked.
const char *take_more(int32_t s, int32_t n, uint64_t *id_out);
// Copies len bytes that a take left at from, in the buffer id of s, to out;
// false, copying nothing, when that buffer is gone (another thread closed s
// s since). Takes the table's lock: for a thread whose lent read was not
// kept because another thread used the socket after it.
bool copy_lent(int32_t s, uint64_t id, const char *from, int32_t len, char *out);
// With read-ahead on, the pieces of a long message are gathered and leave in
// one send with the final piece, where MSG_MORE would still cost one system
// call per piece: the buffer for s, or nullptr when s does not gather.
std::string *gathered_pieces(int32_t s);
// Sends at once whatever s holds back, in the kernel (held pieces) or here
// (gathered ones); called before every wait for data. False, with the
// socket closed and a system error pushed for COMWriteSock, when that send
// fails.
bool send_pending(int32_t s);

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
// s holds a piece back.
bool holds_piece(int32_t s);
// s was closed: its number keeps no tuning.
void forget_tuning(int32_t s);

// ---- The send path ---------------------------------------------------------------------
//
// message layer -> send slot (COMSend) -> write_piece -> the system's send.
// Pieces the message layer flushes carry more = true down to the socket, so
// the hold decision is made from the piece itself, never guessed afterwards.

// COMWriteSock with the hold decision for the piece: one send, the socket
// closed after a failure or a short count.
int32_t write_piece(int32_t s, const char *buffer, int32_t count, int32_t flags, bool more);
// COMSend without its trace echo, which the message layer calls directly
// when no trace file is open: the same result, and an exception reported as
// COMSend's.
int32_t send_piece(int32_t s, const char *buffer, int32_t count, bool more) noexcept;

// ---- Trace dumps ---------------------------------------------------------------------

// The dump text of a buffer: its text up to the first NUL byte, at most count
// and at most dump_cap - 1 bytes; empty for a null buffer or a count of 0 or
// less. out holds dump_cap bytes. Returns out.
char *dump_text(const char *buffer, int32_t count, char *out);

}  // namespace razivu::transport
