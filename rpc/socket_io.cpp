// Exact-count reads and writes on a connected socket, and closing it.
//
// A read or write that fails closes the socket; the handle is then retired
// (see transport_internal.h), so that later calls with it, the caller's
// closing one included, fail without touching whatever file the number
// belongs to by then.
#include <cerrno>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "rpc/transport_internal.h"
#include "razivu/transport.h"

namespace {

namespace platform = razivu::platform;
namespace transport = razivu::transport;

// Refuses a count or buffer that no system call should see. Nothing was done
// to the socket, so it stays open.
bool refuse_arguments(const char *buffer, int32_t count, const char *function) {
    if (count >= 0 && (buffer != nullptr || count == 0)) {
        return false;
    }
    platform::set_errno(EINVAL);
    COMPushSysError(function);
    return true;
}

// Byte counts are traced on every read and write; without a trace file
// there is nothing to format them for.
void trace_count(char direction, int32_t n) {
    if (COMGetTraceFile() != nullptr) {
        COMTrace("%c Bytes: %d\n", direction, static_cast<int>(n));
    }
}

int32_t fail_and_close(int32_t s, const char *function) {
    COMPushSysError(function);
    transport::close_after_failure(s);
    return -1;
}

}  // namespace

namespace razivu::transport {

// One send. A short count fails like an error and the rest is not sent: the
// socket is closed instead, so the peer never gets a message with a gap.
int32_t write_piece(int32_t s, const char *buffer, int32_t count, int32_t flags, bool more) {
    if (refuse_handle(s, "COMWriteSock") || refuse_arguments(buffer, count, "COMWriteSock")) {
        return -1;
    }
    const int32_t all_flags = flags | piece_flags(s, more);
    const auto send = platform::net_calls().send;
    if (retry_interrupted([&] { return send(s, buffer, count, all_flags); }) != count) {
        return fail_and_close(s, "COMWriteSock");
    }
    sent(s, all_flags);
    trace_count('>', count);
    return count;
}

}  // namespace razivu::transport

extern "C" {

// Loops until count bytes are in. A peer that closes first leaves a short
// count, code 11 pushed and the socket closed. A count of 0 returns at once:
// recv asking for nothing would wait for data on Linux.
RAZIVU_API int32_t COMReadSock(int32_t socket, char *buffer, int32_t count, int32_t flags) try {
    if (transport::refuse_handle(socket, "COMReadSock") ||
        refuse_arguments(buffer, count, "COMReadSock")) {
        return -1;
    }
    // A 0 from the first recv does not end the read by itself: only a 0 in
    // the loop counts as the peer's close.
    int32_t got = 0;
    if (count > 0) {
        transport::push_held(socket);
        got = transport::receive_some(socket, buffer, count, flags);
        if (got < 0) {
            return fail_and_close(socket, "COMReadSock");
        }
    }
    while (got < count) {
        const int32_t n = transport::receive_some(socket, buffer + got, count - got, flags);
        if (n < 0) {
            return fail_and_close(socket, "COMReadSock");
        }
        if (n == 0) {
            COMPushError("COMReadSock", RAZIVU_E_FAILED);
            transport::close_after_failure(socket);
            break;
        }
        got += n;
    }
    trace_count('<', got);
    return got;
} RAZIVU_CATCH(-1, "COMReadSock")

RAZIVU_API int32_t COMWriteSock(int32_t socket, char *buffer, int32_t count, int32_t flags) try {
    return transport::write_piece(socket, buffer, count, flags, false);
} RAZIVU_CATCH(-1, "COMWriteSock")

RAZIVU_API int32_t COMCloseSock(int32_t socket) try {
    if (transport::refuse_handle(socket, "COMCloseSock", true)) {
        return -1;
    }
    if (transport::close_for_caller(socket) != 0) {
        COMPushSysError("COMCloseSock");
        return -1;
    }
    return 0;
} RAZIVU_CATCH(-1, "COMCloseSock")

}  // extern "C"
