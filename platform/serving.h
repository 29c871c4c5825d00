// The operating system beneath the library's server (server/): beyond the
// plain socket calls of sockets.h, the client's address, a deadline over a
// whole call, what reached the client, lines on standard error that never
// hold the server up, sockets passed in by a service manager, and worker
// processes with the signals or events that steer them and the memory they
// share. posix/serve_*.cpp and win32/serve_*.cpp implement it;
// serve_portable.cpp holds the parts that are the same everywhere.
//
// The server is a guest in its caller's process: every signal disposition,
// signal mask, timer and limit changed here is put back by
// workers::finish().
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace razivu::platform::net {

// ---- Addresses ----------------------------------------------------------------------

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

// ---- Connections --------------------------------------------------------------------

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
// disarm_deadline, the connection is cut. Arming again restarts it. On Linux
// a SIGALRM timer (ITIMER_REAL), on Windows a timer-queue timer.
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

}  // namespace razivu::platform::net

namespace razivu::platform::activation {

// A socket handed over from outside: by systemd's socket activation
// (LISTEN_FDS), inetd's standard input, or on Windows by the listening
// process to a worker it started.
enum class Kind {
    none,        // nothing was passed
    listening,   // a listening socket: accept connections on it
    connection,  // one accepted connection (systemd Accept=yes, inetd nowait, a Windows worker)
    unusable,    // something was passed that cannot be served; why says what
};

struct Passed {
    Kind kind = Kind::none;
    int32_t socket = -1;
    std::string why;
    bool handed = false;  // the connection of a worker, from the server's own listening process
};

// The socket systemd passed to this process, when LISTEN_PID names it. The
// variables are removed, as the protocol asks, once read. On Windows, the
// connection the listening process hands a worker it started.
Passed from_systemd();
// Standard input as the socket. Standard output and standard error are moved
// to the null device when they are the same socket, as inetd leaves them, so
// that nothing the server prints reaches a client.
Passed from_inetd();

}  // namespace razivu::platform::activation

namespace razivu::platform::workers {

// Worker processes: the library keeps its state per process, so each
// connection is served by a process of its own; the listening process
// accepts, reaps workers the moment they end, and talks to them through a
// board in memory they share: it asks one to leave, or all to stop, and
// nudges them to look. posix/serve_workers.cpp forks; win32/ starts the
// program again with its own command line and hands it the connection.

// What the server does when the system tells it something; each may run in
// a signal handler (Linux) or another thread (Windows).
struct Hooks {
    // In a worker, before it serves conn and reports in slot of the board.
    void (*begin)(int32_t conn, std::size_t slot);
    // The listening process nudged this worker: look at the board.
    void (*look)();
    // A stop request (SIGTERM, SIGINT, Ctrl-C) came to this worker itself.
    void (*stop_received)();
    // From now on the board is at memory; fresh: it must be set up.
    void (*attach)(void *memory, bool fresh);
};

// Serves one connection; returns the worker's exit status. It closes the
// connection.
using ServeFn = int (*)(int32_t conn, const net::Peer &peer);

// Takes SIGINT and SIGTERM (Ctrl-C and Ctrl-Break on Windows) as requests
// to stop and ignores SIGPIPE, and puts the board of board_size bytes in
// memory the workers share (hooks.attach). Where a worker is a process
// started afresh, it is this program with its own command line. False, with
// why, when there is no memory to share.
bool start(std::size_t max_workers, std::size_t board_size, const Hooks &hooks, std::string &why);
// How many requests to stop have come by signal; the first signal's name
// ("SIGTERM", "SIGINT"), or "" before any.
int stop_requests();
const char *stop_signal();
// Ends the current or next wait() at once. Safe in a signal handler and from
// another thread.
void wake();

// Waits up to ms until one of watched is ready as asked, a worker ends, a
// stop is requested or wake() is called (readable and writable say which
// sockets are ready).
void wait(std::span<net::Watch> watched, int32_t ms);
// The slots of the workers that have ended since the last call. Only the
// processes of spawn() are reaped: other children of the caller are left to it.
std::vector<std::size_t> reap();

// Runs serve(conn, peer) in a new worker that reports in slot, and closes the
// caller's copy of conn. The sockets of others (the listening socket,
// connections still waiting) are not the worker's: it closes its copies
// first. False when no worker could start (conn is closed unserved).
bool spawn(std::size_t slot, int32_t conn, const net::Peer &peer, ServeFn serve,
           std::span<const int32_t> others);
// Makes the worker in slot look at the board now.
void nudge(std::size_t slot);
// Ends the workers still running at once, and waits for them.
void end_all();

// Serves one connection in this process as a worker would, for a connection
// that the service manager accepted already (on Windows: that the listening
// process handed over, with its slot of the shared board, board_size bytes).
int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve, std::size_t board_size,
               const Hooks &hooks);

// Puts back what start(), serve_here(), the deadline and socket_room()
// changed in the process: signal dispositions and mask, the descriptor
// limit, the timer, WinSock, the environment; frees the shared memory, which
// the board must no longer be at.
void finish();

}  // namespace razivu::platform::workers
