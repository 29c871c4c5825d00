// Bookkeeping of the socket handles the library closed after a failure.
#include <cerrno>
#include <set>

#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

// Process-wide handle state.
struct Handles {
    // Closed by the transport after a failure and not yet closed by the
    // caller; rarely more than one.
    std::set<int32_t> retired;
};
Handles handles;

}  // namespace

// The number may still be noted from a socket closed behind the library's back.
void adopt(int32_t s) {
    handles.retired.erase(s);
    forget_tuning(s);
}

bool is_retired(int32_t s) {
    return handles.retired.count(s) != 0;
}

void close_after_failure(int32_t s) {
    const int32_t rc = platform::net_calls().close(s);
    forget_tuning(s);
    handles.retired.insert(s);
    if (rc != 0) {
        COMPushSysError("COMCloseSock");
    }
}

int32_t close_for_caller(int32_t s) {
    forget_tuning(s);
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

}  // namespace razivu::transport
