// The send and receive functions between the message layer and the socket:
// each moves one buffer with the exact-count read or write and echoes it to
// the debug trace.
#include <algorithm>
#include <cstring>

#include "diagnostics/boundary.h"
#include "diagnostics/trace_internal.h"
#include "razivu/diagnostics.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"
#include "razivu/transport.h"

namespace {

namespace transport = razivu::transport;

// Echoes a buffer under the name of a transport function. Without a trace
// file there is nothing to write and no stack to print, so the dump is not
// even built.
void trace_buffer(const char *function, const char *buffer, int32_t count) {
    if (razivu::diagnostics::trace_file() == nullptr) {
        return;
    }
    char dump[transport::dump_cap];
    COMDebugTrace("DEBUG: (%s) buffer <%s>\n", function, transport::dump_text(buffer, count, dump));
}

}  // namespace

namespace razivu::transport {

char *dump_text(const char *buffer, int32_t count, char *out) {
    std::size_t len = 0;
    if (buffer != nullptr && count > 0) {
        const std::size_t limit = std::min(static_cast<std::size_t>(count), dump_cap - 1);
        const void *nul = std::memchr(buffer, '\0', limit);
        len = nul != nullptr ? static_cast<std::size_t>(static_cast<const char *>(nul) - buffer)
                             : limit;
        std::memcpy(out, buffer, len);
    }
    out[len] = '\0';
    return out;
}

int32_t send_piece(int32_t s, const char *buffer, int32_t count, bool more) noexcept {
    try {
        return write_piece(s, buffer, count, 0, more);
    } catch (...) {
        diagnostics::report_exception("COMSend");
        return -1;
    }
}

}  // namespace razivu::transport

extern "C" {

// A piece that the message layer flushes with more of its message to follow
// may wait in the socket for the rest.
RAZIVU_API int32_t COMSend(int32_t socket, char *buffer, int32_t count) try {
    trace_buffer("COMSend", buffer, count);
    return transport::send_piece(socket, buffer, count, razivu::message::more_follows());
} RAZIVU_CATCH(-1, "COMSend")

// The dump shows what the buffer holds also after a failed or short read.
RAZIVU_API int32_t COMReceive(int32_t socket, char *buffer, int32_t count) try {
    const int32_t got = COMReadSock(socket, buffer, count, 0);
    trace_buffer("COMReceive", buffer, count);
    return got;
} RAZIVU_CATCH(-1, "COMReceive")

RAZIVU_API int32_t COMReceiveWithTimeout(int32_t socket, char *buffer, int32_t count) try {
    const int32_t got =
        COMAsyncReadSock(socket, buffer, count, transport::receive_timeout_seconds);
    trace_buffer("COMReceive", buffer, count);
    return got;
} RAZIVU_CATCH(-1, "COMReceiveWithTimeout")

}  // extern "C"
