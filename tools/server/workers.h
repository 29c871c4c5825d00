// Worker processes of `razivu serve`. The library keeps its state per
// process, so each accepted connection is served by a process of its own;
// the listening process only accepts, reaps workers the moment they end,
// and never runs more than a bound of them at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/net.h"

namespace razivu_tool::workers {

// Serves one connection; returns the worker's exit status. The worker's
// end closes the connection.
using ServeFn = int (*)(int32_t conn, const net::Peer &peer);

// Takes SIGINT and SIGTERM as a request to stop and remembers the bound.
// Where a worker is a process started afresh, it is this program with
// worker_args after its name.
void start(int max_workers, const std::vector<std::string> &worker_args);
// True once a stop was requested.
bool stopping();
// The signal that asked for the stop ("SIGTERM", "SIGINT"), or "".
const char *stop_signal();
// Reaps workers as they end and waits until a connection is waiting on
// listening while a worker may start; false when a stop was requested.
bool wait_for_connection(int32_t listening);
// Waits a moment (a stop cuts it short): after a failed accept, so that a
// lasting failure such as running out of descriptors does not spin.
void rest();
// Workers now serving a client at addr.
int serving(const std::string &addr);
// Runs serve(conn, peer) in a new worker, which closes its copy of listening
// first; closes the caller's copy of conn. False when no worker could be
// started (conn is then closed unserved).
bool spawn(int32_t listening, int32_t conn, const net::Peer &peer, ServeFn serve);
// Serves one connection in this process as a worker would, for a connection
// that the service manager accepted already.
int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve);
// Stops the workers still running and waits for them.
void stop_all();

}  // namespace razivu_tool::workers
