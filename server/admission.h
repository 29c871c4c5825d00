// Who gets a worker of the server when they are all taken: the choices
// of the listening process, with no system call in them.
//
// The listening process takes every connection at once (a full accept queue
// would drop a client's SYN, and it would retry only a second later), and
// gives it a worker at once while there is no pressure. Under pressure —
// the workers and the connections waiting for one at least as many as the
// workers — the server defends itself:
// - a connection gets a worker only once its call has begun arriving (an
//   idle connection costs a socket, not a worker);
// - the first-byte and idle limits are shortened;
// - a connection whose call has begun makes room: the least productive
//   worker is asked to leave, the one idle between calls the longest or
//   slowest to complete its call (young ones are spared);
// - waiting connections are served first from the addresses that hold the
//   fewest workers, then from those served longest ago, so that however many
//   addresses an attacker has, another client is served next.
#pragma once

#include <cstdint>
#include <span>

#include "server/board.h"

namespace razivu::server::admission {

using board::Ms;

// A worker's view for the choice of the one to leave.
struct Worker {
    board::State state;
    Ms age;      // in that state
    bool asked;  // asked to leave already
};

// A connection waiting for a worker.
struct Waiting {
    bool call_begun;     // it has sent something
    uint32_t held;       // workers its address holds
    bool served_before;  // its address has been given a worker before
    Ms since_served;     // how long ago (when served_before)
    Ms waited;           // since it was taken
};

// Under pressure when the workers taken and the connections waiting for one
// are at least as many as the workers.
bool pressure(std::size_t busy, std::size_t waiting, std::size_t workers);

// The limits that hold now, silent between calls and before the first
// byte: the idle limit, or under pressure a tenth of it (at least a second).
int32_t idle_limit(int32_t idle_ms, bool under_pressure);
int32_t first_byte_limit(int32_t idle_ms, bool under_pressure);

// The worker to ask to leave to make room: the oldest of those idle (or
// silent since they connected) for at least min_idle_age and those in a call
// for at least min_call_age; -1 when every worker is young, leaving, or
// asked already.
int victim(std::span<const Worker> workers);
constexpr Ms min_idle_age = 250;
constexpr Ms min_call_age = 250;

// A connection waiting for a worker, as the waiting room sees it.
struct Waiter {
    bool call_begun;
    Ms waited;
    uint32_t address_waiting;  // connections of its address waiting
};
// The waiting connection to close to make room for a newcomer whose address
// has newcomer_waiting connections waiting already, when the room is full:
// the one silent longest, once it has had min_silent_wait to send its call;
// else the oldest of the address with the most waiting, when that is more
// than the newcomer's; -1 to refuse the newcomer.
int make_room_waiting(std::span<const Waiter> waiting, uint32_t newcomer_waiting);
constexpr Ms min_silent_wait = 250;

// The waiting connection to serve next, -1 for none: without pressure any,
// under pressure only one whose call has begun. Fewest workers for its
// address first, then the address served longest ago (never served first of
// all), then the one that waited longest.
int next_to_serve(std::span<const Waiting> waiting, bool under_pressure);

}  // namespace razivu::server::admission
