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
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "razivu/transport.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"

namespace {

namespace msg = razivu::message;

// The message layer of the calling thread: each thread packs and decodes its
// own calls, over its own transport slots.
struct Layer {
    char buffer[msg::buffer_cap] = {};   // the outgoing message, or the bytes of the last read
    int32_t cursor = 0;                  // next write position (packing) or read position (decoding)
    int32_t socket = -1;                 // first argument of both slots; -1 when none is registered
    RazivuTransportFn send = nullptr;    // takes the packed bytes; its result is not used
    RazivuTransportFn receive = nullptr; // fills the buffer; anything but the count asked is a failure
    bool more = false;                   // the send slot is taking a piece that the rest of its message follows
    const char *lent = nullptr;          // the last read where the read-ahead buffer holds it, not yet copied in
    int32_t lent_len = 0;                // its length
    int32_t lent_socket = -1;            // the socket whose buffer holds it
    uint64_t lent_id = 0;                // and which allocation that buffer is
};
razivu::platform::PerThread<Layer> layers;

Layer &this_layer() {
    return layers.get();
}

// Copies a last read that still lies in a read-ahead buffer into the buffer:
// everything that reads or writes the buffer's bytes goes through this. The
// buffer it lies in is looked up again, under the table's lock: another
// thread may have closed the socket since. Bytes gone with their socket
// leave the buffer as it was.
Layer &settled(Layer &l) {
    if (l.lent != nullptr) {
        razivu::transport::copy_lent(l.lent_socket, l.lent_id, l.lent, l.lent_len, l.buffer);
        l.lent = nullptr;
    }
    return l;
}

Layer &settled() {
    return settled(this_layer());
}

void lend(Layer &l, const char *bytes, int32_t n, uint64_t id) {
    l.lent = bytes;
    l.lent_len = n;
    l.lent_socket = l.socket;
    l.lent_id = id;
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
int32_t cursor() { return this_layer().cursor; }
void set_cursor(int32_t pos) { this_layer().cursor = pos; }
void advance(int32_t n) { this_layer().cursor += n; }
RazivuTransportFn send_slot() { return this_layer().send; }
RazivuTransportFn receive_slot() { return this_layer().receive; }

void put_transport(RazivuTransportFn send, RazivuTransportFn receive, int32_t socket) {
    Layer &l = this_layer();
    l.send = send;
    l.receive = receive;
    l.socket = socket;
}
bool more_follows() { return this_layer().more; }

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
    Layer &l = this_layer();
    reset(l);
    if (l.receive == nullptr || n < 0 || n > buffer_cap) {
        return nullptr;
    }
    if (reads_read_ahead(l.receive)) {
        uint64_t id = 0;
        if (const char *bytes = transport::take_buffered(l.socket, n, &id); bytes != nullptr) {
            lend(l, bytes, n, id);
            return bytes;
        }
    }
    return l.receive(l.socket, l.buffer, n) == n ? l.buffer : nullptr;
}

// Between a decoder's header read and its body read nothing runs that could
// change the slot, the trace file or the socket's state, so a header taken
// from the read-ahead buffer vouches for the body's fast path.
const char *receive_body(int32_t n) {
    Layer &l = this_layer();
    if (l.lent != nullptr && n >= 0 && n <= buffer_cap) {
        uint64_t id = 0;
        if (const char *bytes = transport::take_more(l.socket, n, &id); bytes != nullptr) {
            reset(l);
            lend(l, bytes, n, id);
            return bytes;
        }
    }
    return receive_exact(n);
}

// The calling thread works on the socket whose buffer this is, so the bytes
// are still there: copied without a look-up.
void keep_last_read(const char *region, std::size_t len) {
    Layer &l = this_layer();
    const std::less<const char *> before;
    if (l.lent != nullptr && !before(l.lent, region) && before(l.lent, region + len)) {
        std::memcpy(l.buffer, l.lent, static_cast<std::size_t>(l.lent_len));
        l.lent = nullptr;
    }
}

}  // namespace razivu::message

extern "C" {

RAZIVU_API void ResetBuffer(void) try {
    reset(this_layer());
} RAZIVU_CATCH_VOID(nullptr)

// Without a send slot there is nowhere to send to; the buffer stays as it is.
RAZIVU_API void SendBuffer(void) try {
    if (this_layer().send == nullptr) {
        COMPushError("SendBuffer", RAZIVU_E_NOTHING_SENT);
        return;
    }
    send_packed(false);
} RAZIVU_CATCH_VOID("SendBuffer")

RAZIVU_API void SetTransport(RazivuTransportFn send, RazivuTransportFn receive, int32_t socket) try {
    Layer &l = this_layer();
    if (send != nullptr) {
        l.send = send;
    }
    if (receive != nullptr) {
        l.receive = receive;
    }
    l.socket = socket;
} RAZIVU_CATCH_VOID(nullptr)

RAZIVU_API void SetSocket(int32_t socket) try {
    this_layer().socket = socket;
} RAZIVU_CATCH_VOID(nullptr)
RAZIVU_API void ClearSocket(void) try {
    this_layer().socket = -1;
} RAZIVU_CATCH_VOID(nullptr)
RAZIVU_API int32_t GetSocket(void) try {
    return this_layer().socket;
} RAZIVU_CATCH(-1, nullptr)

}  // extern "C"
