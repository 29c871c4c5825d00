// Exact-count reads and writes on a connected socket, and closing it.
//
// A read or write that fails closes the socket; the handle is then retired
// (see transport_internal.h), so that later calls with it, the caller's
// closing one included, fail without touching whatever file the number
// belongs to by then.
#include <cerrno>
#include <string>

#include "diagnostics/boundary.h"
#include "diagnostics/trace_internal.h"
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
    if (razivu::diagnostics::trace_file() != nullptr) {
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
// One send of all of data, or false.
bool send_whole(int32_t s, const char *data, std::size_t len, int32_t flags) {
    const auto send = platform::net_calls().send;
    const auto n = static_cast<int32_t>(len);
    return retry_interrupted([&] { return send(s, data, n, flags); }) == n;
}

// Gathered pieces leave before anything else is sent or awaited.
bool send_gathered(int32_t s, int32_t flags) {
    std::string *gathered = gathered_pieces(s);
    if (gathered == nullptr || gathered->empty()) {
        return true;
    }
    const bool ok = send_whole(s, gathered->data(), gathered->size(), flags);
    gathered->clear();
    return ok;
}

int32_t write_piece(int32_t s, const char *buffer, int32_t count, int32_t flags, bool more) {
    if (refuse_handle(s, "COMWriteSock") || refuse_arguments(buffer, count, "COMWriteSock")) {
        return -1;
    }
    std::string *gathered = flags == 0 ? gathered_pieces(s) : nullptr;
    if (gathered != nullptr && gathered->size() + static_cast<std::size_t>(count) <= gather_cap) {
        bool ok = true;
        if (!more && gathered->empty()) {
            // A message in one piece leaves from where it is, without the copy.
            ok = send_whole(s, buffer, static_cast<std::size_t>(count), 0);
        } else {
            gathered->append(buffer, static_cast<std::size_t>(count));
            ok = more || send_gathered(s, 0);
        }
        if (!ok) {
            return fail_and_close(s, "COMWriteSock");
        }
        trace_count('>', count);
        return count;
    }
    const int32_t all_flags = flags | piece_flags(s, more);
    if (!send_gathered(s, platform::more_flag()) ||
        !send_whole(s, buffer, static_cast<std::size_t>(count), all_flags)) {
        return fail_and_close(s, "COMWriteSock");
    }
    sent(s, all_flags);
    trace_count('>', count);
    return count;
}

bool send_pending(int32_t s) {
    push_held(s);
    if (!send_gathered(s, 0)) {
        fail_and_close(s, "COMWriteSock");
        return false;
    }
    return true;
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
        if (!transport::send_pending(socket)) {
            return -1;
        }
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
