// The board the processes of the server share: a slot per worker, where
// the worker says what its connection is doing and the listening process
// asks it to leave; the stop under way; and the budget of log lines. It
// lives in memory shared by the listening process and its workers (made
// before the first worker starts, see platform/serving.h), so they share no
// lock: every field is a lock-free 32-bit atomic, and a reader may see one
// field a moment before the next, which no decision here depends on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace razivu::server::board {

// A steady clock in milliseconds that every process reads alike. It wraps
// after 49 days; only differences of it (ages) are ever used.
using Ms = uint32_t;
Ms now();
Ms age(Ms since);

enum class State : uint32_t {
    free,     // no worker
    waiting,  // the connection has not sent its first byte
    idle,     // between calls: everything owed has been sent
    in_call,  // a call is being read or answered
    leaving,  // the connection is ending
};

enum class Stop : uint32_t {
    none,
    finish_calls,  // calls under way are finished, nothing new is taken
    at_once,       // every connection is cut
};

struct Slot {
    std::atomic<uint32_t> seq{0};    // counts the worker's changes of state
    std::atomic<uint32_t> state{0};  // a State
    std::atomic<Ms> since{0};        // when it began
    std::atomic<uint32_t> leave{0};  // the seq at which the worker is asked to leave; 0: not asked
};

// One kind of log line over a window of time (serve_log.h).
struct Budget {
    std::atomic<Ms> start{0};           // when the window began
    std::atomic<uint32_t> written{0};   // lines written in it
    std::atomic<uint32_t> left_out{0};  // lines left out of it
};

constexpr std::size_t max_slots = 1024;
constexpr std::size_t budget_kinds = 10;  // serve_log.h: by Trouble, and lines left out

struct Board {
    std::atomic<uint32_t> stop{0};  // a Stop
    Budget budgets[budget_kinds];
    Slot slots[max_slots];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// The board of this process. Until attach(), one of its own (a process that
// serves one connection without a listening process).
Board &board();
// From now on the board at shared, which is set up first when fresh.
void attach(void *shared, bool fresh);
// Back to a board of the process's own, cleared, before the shared memory goes.
void detach();
// True once attached: the process is the listening process or one of its workers.
bool shared();

}  // namespace razivu::server::board
