// Server side: the listening socket, accepting connections, and polls and
// reads that wait a bounded time for data.
#include <cerrno>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"
#include "razivu/transport.h"

namespace {

namespace platform = razivu::platform;
namespace transport = razivu::transport;

constexpr const char *listen_name = "COMDoMakeListenSock";

// Address reuse, bind to every interface, listen: the first step that fails
// stops the rest. Returns 0 or -1 with errno describing the failed step.
int32_t bind_and_listen(int32_t s, uint16_t port) {
    const platform::NetCalls &calls = platform::net_calls();
    const platform::Ipv4Endpoint any{0, port};
    if (calls.set_option(s, platform::SocketOption::reuse_address, 1) != 0 ||
        calls.bind(s, &any) != 0 || calls.listen(s, transport::listen_backlog) != 0) {
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

RAZIVU_API int32_t COMDoMakeListenSock(void) try {
    if (PTWSAStartup() != 0) {
        return -1;
    }
    const int16_t port = COMGetPortByName(COMGetServiceName(), "tcp");
    if (port == transport::no_port) {
        COMPushSysError(listen_name);
        COMPushError(listen_name, RAZIVU_E_SERVICE_NOT_FOUND);
        return -1;
    }
    const int32_t s = platform::net_calls().open_tcp();
    if (s == platform::invalid_socket) {
        COMPushSysError(listen_name);
        return -1;
    }
    transport::adopt(s);
    if (bind_and_listen(s, static_cast<uint16_t>(port)) != 0) {
        COMPushSysError(listen_name);
        COMCloseSock(s);
        return -1;
    }
    return s;
} RAZIVU_CATCH(-1, listen_name)

// A failed accept leaves the listening socket open: the next client may
// still be served.
RAZIVU_API int32_t COMWaitForConnectingSock(int32_t listen_socket) try {
    if (transport::refuse_handle(listen_socket, "COMWaitForConnectingSock")) {
        return -1;
    }
    const auto accept = platform::net_calls().accept;
    const int32_t s = transport::retry_interrupted([&] { return accept(listen_socket); });
    if (s == platform::invalid_socket) {
        COMPushSysError("COMWaitForConnectingSock");
        return -1;
    }
    transport::adopt(s);
    transport::tune_connection(s);
    return s;
} RAZIVU_CATCH(-1, "COMWaitForConnectingSock")

RAZIVU_API int32_t COMisValidSock(int32_t) try {
    return 0;
} RAZIVU_CATCH(0, nullptr)

// An interrupted wait starts over with the full time-out; any other failure
// closes the socket. Bytes read ahead are readable at once.
RAZIVU_API int32_t COMPollSock(int32_t socket, int32_t seconds) try {
    if (transport::refuse_handle(socket, "COMPollSock")) {
        return RAZIVU_POLL_FAILED;
    }
    if (transport::has_buffered(socket)) {
        return RAZIVU_POLL_READABLE;
    }
    if (!transport::send_pending(socket)) {
        return RAZIVU_POLL_FAILED;
    }
    const auto wait_readable = platform::net_calls().wait_readable;
    int32_t rc = wait_readable(socket, seconds);
    while (rc == -1 && platform::last_errno() == EINTR) {
        rc = wait_readable(socket, seconds);
    }
    if (rc > 0) {
        return RAZIVU_POLL_READABLE;
    }
    if (rc == 0) {
        return RAZIVU_POLL_TIMEOUT;
    }
    COMPushSysError("COMPollSock");
    transport::close_after_failure(socket);
    return RAZIVU_POLL_FAILED;
} RAZIVU_CATCH(RAZIVU_POLL_FAILED, "COMPollSock")

// A peer that closed before anything arrived is a failure, never the 0 of a
// time-out, or the caller would wait again on a dead handle. Bytes that did
// arrive are counted as COMReadSock counts them (it has pushed 11 and closed
// the socket when the count fell short).
RAZIVU_API int32_t COMAsyncReadSock(int32_t socket, char *buffer, int32_t count,
                                    int32_t seconds) try {
    const int32_t polled = COMPollSock(socket, seconds);
    if (polled != RAZIVU_POLL_READABLE) {
        return polled;
    }
    const int32_t got = COMReadSock(socket, buffer, count, 0);
    if (got < 0 || (got == 0 && count > 0)) {
        COMPushError("COMAsyncReadSock", RAZIVU_E_SOCKET_IO);
        return -1;
    }
    return got;
} RAZIVU_CATCH(-1, "COMAsyncReadSock")

}  // extern "C"
