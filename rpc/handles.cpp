// Bookkeeping of the socket handles: numbers the library closed after a
// failure, and the per-socket state dropped whenever a number closes.
#include <cerrno>
#include <map>

#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

// Process-wide handle state.
struct Handles {
    // Closed by the transport after a failure and not yet closed by the
    // caller, with the identity the socket had; rarely more than one.
    std::map<int32_t, platform::SocketIdentity> retired;
};
Handles handles;

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
    handles.retired.erase(s);
    forget_socket(s);
    start_read_ahead_if_asked(s);
}

bool is_retired(int32_t s) {
    return handles.retired.count(s) != 0;
}

void close_after_failure(int32_t s) {
    platform::SocketIdentity identity;
    const platform::NetCalls &calls = platform::net_calls();
    if (calls.identity(s, &identity) != 0) {
        identity = platform::SocketIdentity{};
    }
    const int32_t rc = calls.close(s);
    forget_socket(s);
    handles.retired[s] = identity;
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
    if (handles.retired.empty()) {
        return false;
    }
    const auto found = handles.retired.find(s);
    if (found == handles.retired.end()) {
        return false;
    }
    platform::SocketIdentity now;
    const bool reused =
        platform::net_calls().identity(s, &now) == 0 && !(now == found->second);
    if (reused && !closing) {
        handles.retired.erase(found);  // a new socket's owner came first
        return false;
    }
    if (closing) {
        handles.retired.erase(found);
    }
    return refuse(function);
}

}  // namespace razivu::transport
