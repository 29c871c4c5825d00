// Latency tuning of the library's connections: TCP_NODELAY on every new
// connection, and pieces of a long message held back until its last piece.
#include <set>

#include "platform/platform.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

// Process-wide tuning state.
struct Tuning {
    bool low_latency = true;  // TCP_NODELAY on new connections, pieces held back
    std::set<int32_t> tuned;  // open sockets that got TCP_NODELAY from the library
    std::set<int32_t> held;   // tuned sockets that may hold pieces back
};
Tuning tuning;

}  // namespace

void set_low_latency(bool on) {
    tuning.low_latency = on;
}

void tune_connection(int32_t s) {
    if (tuning.low_latency &&
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1) == 0) {
        tuning.tuned.insert(s);
    }
}

// Only sockets the library tuned hold pieces back: pushing them out switches
// TCP_NODELAY on, which must not change a socket of the caller's own.
int32_t piece_flags(int32_t s, bool more) {
    const int32_t more_flag = platform::more_flag();
    if (!more || !tuning.low_latency || more_flag == 0 || tuning.tuned.count(s) == 0) {
        return 0;
    }
    tuning.held.insert(s);
    return more_flag;
}

// A send without the "more" flag takes whatever was held along with it.
void sent(int32_t s, int32_t flags) {
    if ((flags & platform::more_flag()) == 0 && !tuning.held.empty()) {
        tuning.held.erase(s);
    }
}

// Switching TCP_NODELAY on (again) sends what the socket holds back.
void push_held(int32_t s) {
    if (!tuning.held.empty() && tuning.held.erase(s) != 0) {
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1);
    }
}

void forget_tuning(int32_t s) {
    tuning.tuned.erase(s);
    tuning.held.erase(s);
}

}  // namespace razivu::transport
