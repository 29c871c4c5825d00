// This worker of the server: the slot of the board it reports its state
// in, and what it was asked (to make room for other clients, or to stop).
// The listening process asks through the board and then nudges the worker
// (a signal on Linux, an event on Windows), whose handler calls look().
#pragma once

#include <cstddef>
#include <cstdint>

#include "server/board.h"

namespace razivu::server::self {

// Why the connection was cut from outside its calls.
enum class Leave {
    none,
    made_room,  // closed to make room for other clients
    stopping,   // the server stops; the connection was between calls
    at_once,    // the server stops at once
};

// This process serves conn and reports in slot of the board.
void begin(int32_t conn, std::size_t slot);
// The connection's state from now on.
void enter(board::State state);
// True once the server stops: the call under way is finished, no other is taken.
bool stopping();
// Why look() cut the connection; none when it did not.
Leave cut_reason();
// A stop request that came to this process itself (SIGTERM, SIGINT, Ctrl-C).
void stop_received();
// Cuts the connection when it must end now: the server stops at once, the
// worker was asked to make room (at the state it was asked in), or the
// server stops while the connection is between calls. Safe in a signal
// handler and from another thread.
void look();

}  // namespace razivu::server::self
