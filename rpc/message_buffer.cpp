// The message buffer and the transport slots: where packed fields wait to be
// sent, and where the decoders' reads land. A read that the socket's
// read-ahead buffer already holds in full is not copied in: the decoders take
// it where it lies, and the buffer gets its bytes only if anything looks at
// them before the next read (see receive_exact).
#include <cassert>
#include <cstring>
#include <functional>

#include "diagnostics/boundary.h"
#include "diagnostics/trace_internal.h"
#include "razivu/diagnostics.h"
#include "razivu/transport.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"

namespace {

namespace msg = razivu::message;

// Process-wide state of the message layer.
struct Layer {
    char buffer[msg::buffer_cap] = {};   // the outgoing message, or the bytes of the last read
    int32_t cursor = 0;                  // next write position (packing) or read position (decoding)
    int32_t socket = -1;                 // first argument of both slots; -1 when none is registered
    RazivuTransportFn send = nullptr;    // takes the packed bytes; its result is not used
    RazivuTransportFn receive = nullptr; // fills the buffer; anything but the count asked is a failure
    bool more = false;                   // the send slot is taking a piece that the rest of its message follows
    const char *lent = nullptr;          // the last read where the read-ahead buffer holds it, not yet copied in
    int32_t lent_len = 0;                // its length
};
Layer layer;

// Copies a last read that still lies in a read-ahead buffer into the buffer:
// everything that reads or writes the buffer's bytes goes through this.
Layer &settled() {
    if (layer.lent != nullptr) {
        std::memcpy(layer.buffer, layer.lent, static_cast<std::size_t>(layer.lent_len));
        layer.lent = nullptr;
    }
    return layer;
}

// The one exit of the buffer. A piece flushed in mid-message goes with more
// set, so that the library's own COMSend may let it wait in the socket for
// the rest or gather it; any other send function takes it as it always did.
// COMSend with no trace file open has nothing to echo, and its work is done
// here without the stop.
void send_packed(bool more) {
    Layer &l = settled();
    if (l.send == COMSend && razivu::diagnostics::trace_file() == nullptr) {
        razivu::transport::send_piece(l.socket, l.buffer, l.cursor, more);
        return;
    }
    l.more = more;
    l.send(l.socket, l.buffer, l.cursor);
    l.more = false;
}

// The bytes past the cursor are never sent, so a reset needs no copy of a
// lent read.
void reset(Layer &l) {
    l.lent = nullptr;
    l.buffer[0] = '\0';
    l.cursor = 0;
}

// The library's own receive functions, for which a read that the read-ahead
// buffer holds in full ends exactly as if they had made it, when no trace
// file is open to show it: COMReadSock serves such a read from the buffer
// without a system call, and COMReceiveWithTimeout does not wait for bytes
// already there.
bool reads_read_ahead(RazivuTransportFn receive) {
    return (receive == COMReceive || receive == COMReceiveWithTimeout) &&
           razivu::diagnostics::trace_file() == nullptr;
}

}  // namespace

namespace razivu::message {

char *buffer_start() { return settled().buffer; }
int32_t cursor() { return layer.cursor; }
void set_cursor(int32_t pos) { layer.cursor = pos; }
void advance(int32_t n) { layer.cursor += n; }
RazivuTransportFn send_slot() { return layer.send; }
RazivuTransportFn receive_slot() { return layer.receive; }
bool more_follows() { return layer.more; }

// Without a send slot a flush would lose the packed bytes, so the field is
// refused instead and the message stays as it was.
char *room_for(int32_t n) {
    if (n < 0 || n > max_field_len) {
        return nullptr;
    }
    Layer &l = settled();
    if (l.cursor + n + 1 <= buffer_cap) {
        return l.buffer + l.cursor;
    }
    if (l.send == nullptr) {
        return nullptr;
    }
    // A decode may have left the cursor at the very end of the buffer (a field
    // of 999 data bytes): then there is no byte left for the terminator, and
    // the piece is the whole buffer.
    assert(l.cursor >= 0 && l.cursor <= buffer_cap);
    if (l.cursor < buffer_cap) {
        l.buffer[l.cursor] = '\0';
    }
    send_packed(true);
    reset(l);
    return l.buffer;
}

// The lent bytes stay valid until the read-ahead buffer is refilled or
// dropped, and the transport calls keep_last_read before either.
const char *receive_exact(int32_t n) {
    Layer &l = layer;
    reset(l);
    if (l.receive == nullptr || n < 0 || n > buffer_cap) {
        return nullptr;
    }
    if (reads_read_ahead(l.receive)) {
        if (const char *bytes = transport::take_buffered(l.socket, n); bytes != nullptr) {
            l.lent = bytes;
            l.lent_len = n;
            return bytes;
        }
    }
    return l.receive(l.socket, l.buffer, n) == n ? l.buffer : nullptr;
}

// Between a decoder's header read and its body read nothing runs that could
// change the slot, the trace file or the socket's state, so a header taken
// from the read-ahead buffer vouches for the body's fast path.
const char *receive_body(int32_t n) {
    Layer &l = layer;
    if (l.lent != nullptr && n >= 0 && n <= buffer_cap) {
        if (const char *bytes = transport::take_more(l.socket, n); bytes != nullptr) {
            reset(l);
            l.lent = bytes;
            l.lent_len = n;
            return bytes;
        }
    }
    return receive_exact(n);
}

void keep_last_read(const char *region, std::size_t len) {
    const std::less<const char *> before;
    if (layer.lent != nullptr && !before(layer.lent, region) && before(layer.lent, region + len)) {
        settled();
    }
}

}  // namespace razivu::message

extern "C" {

RAZIVU_API void ResetBuffer(void) try {
    reset(layer);
} RAZIVU_CATCH_VOID(nullptr)

// Without a send slot there is nowhere to send to; the buffer stays as it is.
RAZIVU_API void SendBuffer(void) try {
    if (layer.send == nullptr) {
        COMPushError("SendBuffer", RAZIVU_E_NOTHING_SENT);
        return;
    }
    send_packed(false);
} RAZIVU_CATCH_VOID("SendBuffer")

RAZIVU_API void SetTransport(RazivuTransportFn send, RazivuTransportFn receive, int32_t socket) try {
    if (send != nullptr) {
        layer.send = send;
    }
    if (receive != nullptr) {
        layer.receive = receive;
    }
    layer.socket = socket;
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void SetSocket(int32_t socket) try {
    layer.socket = socket;
} RAZIVU_CATCH_VOID(nullptr)
RAZIVU_API void ClearSocket(void) try {
    layer.socket = -1;
} RAZIVU_CATCH_VOID(nullptr)
RAZIVU_API int32_t GetSocket(void) try {
    return layer.socket;
} RAZIVU_CATCH(-1, nullptr)

}  // extern "C"
