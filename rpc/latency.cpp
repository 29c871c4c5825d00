// Latency tuning of the library's connections: TCP_NODELAY on every new
// connection, and pieces of a long message held back until its last piece.
#include <atomic>
#include <map>

#include "platform/platform.h"
#include "platform/threads.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

// Process-wide tuning state. Holding a piece back is a flag on the socket's
// entry, so that a message in pieces allocates nothing. The table is searched
// and changed under the lock; no socket call is made while it is held.
struct Tuning {
    platform::Lock lock;
    std::atomic<bool> low_latency{true};  // TCP_NODELAY on new connections, pieces held back
    std::map<int32_t, bool> tuned;        // open sockets that got TCP_NODELAY from the library,
                                          // each with whether it holds a piece back
    std::atomic<int32_t> holding{0};      // how many of them hold a piece back
};
Tuning tuning;

// s stops holding a piece back; true when it held one.
bool release(int32_t s) {
    if (tuning.holding.load(std::memory_order_acquire) == 0) {
        return false;
    }
    platform::Locked held(tuning.lock);
    const auto found = tuning.tuned.find(s);
    if (found == tuning.tuned.end() || !found->second) {
        return false;
    }
    found->second = false;
    --tuning.holding;
    return true;
}

}  // namespace

void set_low_latency(bool on) {
    tuning.low_latency = on;
}

void tune_connection(int32_t s) {
    if (tuning.low_latency &&
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1) == 0) {
        platform::Locked held(tuning.lock);
        tuning.tuned.emplace(s, false);
    }
}

// Only sockets the library tuned hold pieces back: pushing them out switches
// TCP_NODELAY on, which must not change a socket of the caller's own.
int32_t piece_flags(int32_t s, bool more) {
    const int32_t more_flag = platform::more_flag();
    if (!more || !tuning.low_latency || more_flag == 0) {
        return 0;
    }
    platform::Locked held(tuning.lock);
    const auto found = tuning.tuned.find(s);
    if (found == tuning.tuned.end()) {
        return 0;
    }
    if (!found->second) {
        found->second = true;
        ++tuning.holding;
    }
    return more_flag;
}

// A send without the "more" flag takes whatever was held along with it.
void sent(int32_t s, int32_t flags) {
    if ((flags & platform::more_flag()) == 0) {
        release(s);
    }
}

// Switching TCP_NODELAY on (again) sends what the socket holds back.
void push_held(int32_t s) {
    if (release(s)) {
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1);
    }
}

bool holds_piece(int32_t s) {
    if (tuning.holding.load(std::memory_order_acquire) == 0) {
        return false;
    }
    platform::Locked held(tuning.lock);
    const auto found = tuning.tuned.find(s);
    return found != tuning.tuned.end() && found->second;
}

void forget_tuning(int32_t s) {
    release(s);
    platform::Locked held(tuning.lock);
    tuning.tuned.erase(s);
}

}  // namespace razivu::transport
