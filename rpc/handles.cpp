// Bookkeeping of the socket handles: numbers the library closed after a
// failure, and the per-socket state dropped whenever a number closes.
#include <cerrno>
#include <atomic>
#include <map>
#include <optional>

#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

// Process-wide handle state, searched and changed under the lock; no socket
// call is made while it is held.
struct Handles {
    platform::Lock lock;
    // Closed by the transport after a failure and not yet closed by the
    // caller, with the identity the socket had; rarely more than one.
    std::map<int32_t, platform::SocketIdentity> retired;
    std::atomic<std::size_t> count{0};  // entries of retired, read without the lock
};
Handles handles;

// The caller holds the lock.
void counted_locked() {
    handles.count.store(handles.retired.size(), std::memory_order_release);
}

// The identity s had when it was retired, if it is.
std::optional<platform::SocketIdentity> retired_as(int32_t s) {
    if (handles.count.load(std::memory_order_acquire) == 0) {
        return std::nullopt;
    }
    platform::Locked held(handles.lock);
    const auto found = handles.retired.find(s);
    return found != handles.retired.end() ? std::optional(found->second) : std::nullopt;
}

void unretire(int32_t s) {
    if (handles.count.load(std::memory_order_acquire) != 0) {
        platform::Locked held(handles.lock);
        handles.retired.erase(s);
        counted_locked();
    }
}

// Tuning and read-ahead belong to the socket, not to its number.
void forget_socket(int32_t s) {
    forget_tuning(s);
    drop_read_ahead(s);
}

bool refuse(const char *function) {
    platform::set_errno(EBADF);
    COMPushSysError(function);
    return true;
}

}  // namespace

// The number may still be noted from a socket closed behind the library's back.
void adopt(int32_t s) {
    unretire(s);
    forget_socket(s);
    start_read_ahead_if_asked(s);
}

bool is_retired(int32_t s) {
    return retired_as(s).has_value();
}

void close_after_failure(int32_t s) {
    platform::SocketIdentity identity;
    const platform::NetCalls &calls = platform::net_calls();
    if (calls.identity(s, &identity) != 0) {
        identity = platform::SocketIdentity{};
    }
    const int32_t rc = calls.close(s);
    forget_socket(s);
    {
        platform::Locked held(handles.lock);
        handles.retired[s] = identity;
        counted_locked();
    }
    if (rc != 0) {
        COMPushSysError("COMCloseSock");
    }
}

int32_t close_for_caller(int32_t s) {
    forget_socket(s);
    return platform::net_calls().close(s);
}

bool refuse_handle(int32_t s, const char *function, bool closing) {
    if (s < 0) {
        return refuse(function);
    }
    if (handles.count.load(std::memory_order_acquire) == 0) {
        return false;
    }
    const std::optional<platform::SocketIdentity> was = retired_as(s);
    if (!was) {
        return false;
    }
    platform::SocketIdentity now;
    const bool reused = platform::net_calls().identity(s, &now) == 0 && !(now == *was);
    if (reused && !closing) {
        unretire(s);  // a new socket's owner came first
        return false;
    }
    if (closing) {
        unretire(s);
    }
    return refuse(function);
}

}  // namespace razivu::transport
