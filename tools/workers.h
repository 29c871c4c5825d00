// Worker processes of `razivu serve`. The library keeps its state per
// process, so each accepted connection is served by a process of its own;
// the listening process only accepts, and never more than a bound of
// workers run at once.
#pragma once

#include <cstdint>

namespace razivu_tool::workers {

// Serves one connection and closes it; returns the worker's exit status.
using ServeFn = int (*)(int32_t conn);

// Takes SIGINT and SIGTERM as a request to stop and remembers the bound.
void start(int max_workers);
// True once a stop was requested.
bool stopping();
// Reaps finished workers and waits while the bound is reached; false when a
// stop was requested meanwhile.
bool wait_for_room();
// Runs serve(conn) in a new worker, which closes its copy of listening
// first; closes the caller's copy of conn. False when no worker could be
// started (conn is then closed unserved).
bool spawn(int32_t listening, int32_t conn, ServeFn serve);
// Stops the workers still running and waits for them.
void stop_all();
// Makes a read or a write on conn fail once it has stalled for seconds, so
// a client that stops in the middle of a field cannot hold a worker.
void limit_stalls(int32_t conn, int seconds);

}  // namespace razivu_tool::workers
