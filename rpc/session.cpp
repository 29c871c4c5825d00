// The library's one WinSock session and the PT wrappers around the name and
// byte-order calls.
//
// The session is a flag, not a counter: a start happens only while the flag
// is clear, and every end clears it. Each wrapper brackets its call with a
// start and an end, so it ends a session its caller had started; the next
// connection starts a new one.
#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "razivu/transport.h"

namespace {

namespace platform = razivu::platform;

// Process-wide session state, changed under the lock.
struct Session {
    platform::Lock lock;
    int32_t started = 0;       // the library's session is started
    int32_t last_result = 0;   // what the last WSAStartup returned; 0 is success
};
Session session;

// Runs call between a session start and end, neither of which is looked at.
template <typename Call>
auto bracketed(Call call) {
    PTWSAStartup();
    auto result = call();
    PTWSACleanup();
    return result;
}

}  // namespace

extern "C" {

RAZIVU_API int32_t PTWSAStartup(void) try {
    int32_t result = 0;
    {
        platform::Locked held(session.lock);
        if (session.started != 0) {
            return session.last_result;
        }
        result = session.last_result = platform::net_calls().startup();
        session.started = result == 0 ? 1 : 0;
    }
    if (result != 0) {
        COMPushError("PTWSAStartup", RAZIVU_E_NO_SERVICE_ENTRY);
    }
    return result;
} RAZIVU_CATCH(-1, "PTWSAStartup")

// Only a blocking call in progress keeps the session; every other failure,
// including a session that was never started, counts as ended.
RAZIVU_API int32_t PTWSACleanup(void) try {
    const platform::NetCalls &calls = platform::net_calls();
    platform::Locked held(session.lock);
    const int32_t rc = calls.cleanup();
    if (rc != 0 && calls.last_error() == platform::net_error_in_progress) {
        return rc;
    }
    session.started = 0;
    return 0;
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API int32_t PTWSAUnhookBlockingHook(void) try {
    bracketed([] { return platform::net_calls().unhook_blocking_hook(); });
    return 0;
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API int32_t PTgethostname(char *name, int32_t len) try {
    return bracketed([=] { return platform::net_calls().host_name(name, len); });
} RAZIVU_CATCH(-1, "PTgethostname")

RAZIVU_API struct servent *PTgetservbyname(const char *name, const char *protocol) try {
    return bracketed([=] { return platform::net_calls().service_by_name(name, protocol); });
} RAZIVU_CATCH(nullptr, "PTgetservbyname")

RAZIVU_API uint32_t PThtonl(uint32_t value) try {
    return bracketed([=] { return platform::host_to_net32(value); });
} RAZIVU_CATCH(platform::host_to_net32(value), nullptr)

RAZIVU_API uint16_t PThtons(uint16_t value) try {
    return bracketed([=] { return platform::host_to_net16(value); });
} RAZIVU_CATCH(platform::host_to_net16(value), nullptr)

RAZIVU_API uint32_t PTntohl(uint32_t value) try {
    return bracketed([=] { return platform::net_to_host32(value); });
} RAZIVU_CATCH(platform::net_to_host32(value), nullptr)

RAZIVU_API uint16_t PTntohs(uint16_t value) try {
    return bracketed([=] { return platform::net_to_host16(value); });
} RAZIVU_CATCH(platform::net_to_host16(value), nullptr)

RAZIVU_API int32_t COMWSACleanup(void) try {
    return PTWSACleanup();
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API int32_t COMWSAUnhookBlockingHook(void) try {
    return PTWSAUnhookBlockingHook();
} RAZIVU_CATCH(0, nullptr)

}  // extern "C"
