// Bookkeeping of the socket handles the library opened and closed, and the
// options every new connection gets.
#include <cerrno>
#include <set>

#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "razivu/lib/transport_internal.h"

namespace {

namespace platform = razivu::platform;

// Process-wide handle state.
struct Handles {
    // Closed by the transport after a failure and not yet closed by the
    // caller; rarely more than one.
    std::set<int32_t> retired;
    bool low_latency = true;  // TCP_NODELAY on new connections, pieces held back
    std::set<int32_t> tuned;  // open sockets that got TCP_NODELAY from the library
    std::set<int32_t> held;   // tuned sockets that may hold pieces back
    // The piece announced by message_continues: socket, start and count.
    int32_t continuing_socket = -1;
    const char *continuing_buffer = nullptr;
    int32_t continuing_count = -1;
};
Handles handles;

void forget(int32_t s) {
    handles.tuned.erase(s);
    handles.held.erase(s);
}

}  // namespace

namespace razivu::transport {

// The number may still be noted from a socket closed behind the library's back.
void adopt(int32_t s) {
    handles.retired.erase(s);
    forget(s);
}

bool is_retired(int32_t s) {
    return handles.retired.count(s) != 0;
}

void close_after_failure(int32_t s) {
    const int32_t rc = platform::net_calls().close(s);
    forget(s);
    handles.retired.insert(s);
    if (rc != 0) {
        COMPushSysError("COMCloseSock");
    }
}

int32_t close_for_caller(int32_t s) {
    forget(s);
    return platform::net_calls().close(s);
}

bool refuse_retired(int32_t s, const char *function, bool release) {
    if (!is_retired(s)) {
        return false;
    }
    if (release) {
        handles.retired.erase(s);
    }
    platform::set_errno(EBADF);
    COMPushSysError(function);
    return true;
}

void set_low_latency(bool on) {
    handles.low_latency = on;
}

void tune_connection(int32_t s) {
    if (handles.low_latency &&
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1) == 0) {
        handles.tuned.insert(s);
    }
}

void message_continues(int32_t s, const char *buffer, int32_t count) {
    handles.continuing_socket = s;
    handles.continuing_buffer = buffer;
    handles.continuing_count = count;
}

// Only sockets the library tuned hold pieces back: pushing them out switches
// TCP_NODELAY on, which must not change a socket of the caller's own.
int32_t piece_flags(int32_t s, const char *buffer, int32_t count) {
    const bool announced = handles.continuing_socket == s &&
                           handles.continuing_buffer == buffer &&
                           handles.continuing_count == count;
    message_continues(-1, nullptr, -1);
    const int32_t more = platform::more_flag();
    if (!announced || !handles.low_latency || more == 0 || handles.tuned.count(s) == 0) {
        return 0;
    }
    handles.held.insert(s);
    return more;
}

// A send without the "more" flag takes whatever was held along with it.
void sent(int32_t s, int32_t flags) {
    if ((flags & platform::more_flag()) == 0) {
        handles.held.erase(s);
    }
}

// Switching TCP_NODELAY on (again) sends what the socket holds back.
void push_held(int32_t s) {
    if (handles.held.erase(s) != 0) {
        platform::net_calls().set_option(s, platform::SocketOption::no_delay, 1);
    }
}

}  // namespace razivu::transport
