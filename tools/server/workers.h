// Worker processes of `razivu serve`. The library keeps its state per
// process, so each connection is served by a process of its own; the
// listening process accepts, reaps workers the moment they end, and talks
// to them through the board (board.h): it asks one to leave, or all to
// stop, and nudges them to look. posix/workers.cpp forks; win32/workers.cpp
// starts the program again and hands it the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/net_io.h"
#include "server/net.h"

namespace razivu_tool::workers {

// Serves one connection; returns the worker's exit status. It closes the
// connection.
using ServeFn = int (*)(int32_t conn, const net::Peer &peer);

// Takes SIGINT and SIGTERM (Ctrl-C and Ctrl-Break on Windows) as requests
// to stop, and puts the board in memory the workers share. Where a worker is
// a process started afresh, it is this program with worker_args after its
// name. False, with why, when there is no memory to share.
bool start(std::size_t max_workers, const std::vector<std::string> &worker_args, std::string &why);
// How many requests to stop have come; the first signal's name ("SIGTERM",
// "SIGINT"), or "" before any.
int stop_requests();
const char *stop_signal();

// Waits up to ms until one of watched is ready as asked, a worker ends or a
// stop is requested (readable and writable say which sockets are ready).
void wait(std::span<net::Watch> watched, int32_t ms);
// The slots of the workers that have ended since the last call.
std::vector<std::size_t> reap();

// Runs serve(conn, peer) in a new worker that reports in slot (board.h), and
// closes the caller's copy of conn. The sockets of others (the listening
// socket, connections still waiting) are not the worker's: it closes its
// copies first. False when no worker could start (conn is closed unserved).
bool spawn(std::size_t slot, int32_t conn, const net::Peer &peer, ServeFn serve,
           std::span<const int32_t> others);
// Makes the worker in slot look at the board now.
void nudge(std::size_t slot);
// Ends the workers still running at once, and waits for them.
void end_all();

// Serves one connection in this process as a worker would, for a connection
// that the service manager accepted already (on Windows: that the listening
// process handed over, with its slot of the shared board).
int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve);

}  // namespace razivu_tool::workers
