// The message buffer, the transport slots and the packers. Each packer
// appends one typed field straight into the buffer; when the field would not
// fit, the bytes packed so far go out first, so a message leaves in pieces
// that end at field boundaries. Nothing here allocates.
#include <cassert>
#include <cstring>

#include "diagnostics/boundary.h"
#include "razivu/diagnostics.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"
#include "razivu/message.h"

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
};
Layer layer;

// The one exit of the buffer. A piece flushed in mid-message goes with more
// set, so that the library's own COMSend may let it wait in the socket for
// the rest; any other send function takes it as it always did.
void send_packed(bool more) {
    layer.more = more;
    layer.send(layer.socket, layer.buffer, layer.cursor);
    layer.more = false;
}

// Length of text when it is at most max, else max + 1; reads no further.
int32_t bounded_len(const char *text, int32_t max) {
    const void *nul = std::memchr(text, '\0', static_cast<std::size_t>(max) + 1);
    return nul == nullptr ? max + 1 : static_cast<int32_t>(static_cast<const char *>(nul) - text);
}

// Appends the header of a field whose slot holds value.
void put_header(char tag, int32_t value) {
    msg::put_byte(tag);
    msg::advance();
    msg::write_slot(msg::at_cursor(), value);
    msg::advance(msg::slot_len);
    msg::put_byte(msg::separator);
    msg::advance();
}

// Appends a field of len data bytes, or a null value for len -1; len has
// been checked against max_field_data.
int32_t pack_field(char tag, const char *data, int32_t len) {
    if (msg::ensure_room(len + msg::field_overhead) != 0) {
        return -1;
    }
    put_header(tag, len);
    if (len == msg::null_len) {
        return 0;
    }
    std::memcpy(msg::at_cursor(), data, static_cast<std::size_t>(len));
    msg::advance(len);
    msg::put_byte(msg::separator);
    msg::advance();
    return 0;
}

int32_t report(int32_t result, const char *packer) {
    if (result != 0) {
        COMPushError(packer, RAZIVU_E_PACK);
    }
    return result;
}

}  // namespace

namespace razivu::message {

char *buffer_start() { return layer.buffer; }
char *at_cursor() { return layer.buffer + layer.cursor; }
char byte_at_cursor() { return layer.buffer[layer.cursor]; }
void put_nul() { put_byte('\0'); }
int32_t cursor() { return layer.cursor; }
void set_cursor(int32_t pos) { layer.cursor = pos; }
void advance(int32_t n) { layer.cursor += n; }
RazivuTransportFn send_slot() { return layer.send; }
RazivuTransportFn receive_slot() { return layer.receive; }
bool more_follows() { return layer.more; }

void put_byte(char byte) {
    assert(layer.cursor >= 0 && layer.cursor < buffer_cap);
    layer.buffer[layer.cursor] = byte;
}

// Without a send slot a flush would lose the packed bytes, so the field is
// refused instead and the message stays as it was.
int32_t ensure_room(int32_t n) {
    if (n < 0 || n > max_field_len) {
        return -1;
    }
    if (layer.cursor + n + 1 <= buffer_cap) {
        return 0;
    }
    if (layer.send == nullptr) {
        return -1;
    }
    // A decode may have left the cursor at the very end of the buffer (a field
    // of 999 data bytes): then there is no byte left for the terminator, and
    // the piece is the whole buffer.
    if (layer.cursor < buffer_cap) {
        put_nul();
    }
    send_packed(true);
    ResetBuffer();
    return 0;
}

int32_t pack_string(const char *text, char tag) {
    if (text == nullptr) {
        return pack_field(tag, nullptr, null_len);
    }
    const int32_t len = bounded_len(text, max_field_data);
    return len > max_field_data ? -1 : pack_field(tag, text, len);
}

// A null pointer is the null value whatever the count says.
int32_t pack_bytes(const char *bytes, int32_t count) {
    if (bytes == nullptr) {
        return pack_field(tag_bytes, nullptr, null_len);
    }
    if (count < 0 || count > max_field_data) {
        return -1;
    }
    return pack_field(tag_bytes, bytes, count);
}

int32_t pack_number(int32_t value, char tag) {
    if (value < min_number || value > max_number) {
        return -1;
    }
    char text[number_text_cap];
    return pack_field(tag, text, write_number(text, value));
}

// A return code asks for 8 bytes although its field has 7, as old peers do;
// this keeps the pieces of a flushed message the same as theirs.
int32_t pack_return_code(int32_t code) {
    if (code < min_return_code || code > max_return_code) {
        return -1;
    }
    if (ensure_room(header_len + 1) != 0) {
        return -1;
    }
    put_header(tag_return, code);
    return 0;
}

}  // namespace razivu::message

extern "C" {

RAZIVU_API void ResetBuffer(void) try {
    layer.buffer[0] = '\0';
    layer.cursor = 0;
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

RAZIVU_API int32_t PackFunctionName(const char *name) try {
    return report(msg::pack_string(name, msg::tag_function), "PackFunctionName");
} RAZIVU_CATCH(-1, "PackFunctionName")

RAZIVU_API int32_t PackString(const char *text) try {
    return report(msg::pack_string(text, msg::tag_string), "PackString");
} RAZIVU_CATCH(-1, "PackString")

RAZIVU_API int32_t PackInteger(int32_t value) try {
    return report(msg::pack_number(value, msg::tag_integer), "PackInteger");
} RAZIVU_CATCH(-1, "PackInteger")

RAZIVU_API int32_t PackBoolean(int32_t value) try {
    return report(msg::pack_number(value, msg::tag_boolean), "PackBoolean");
} RAZIVU_CATCH(-1, "PackBoolean")

RAZIVU_API int32_t PackReturnCode(int32_t code) try {
    return report(msg::pack_return_code(code), "PackReturnCode");
} RAZIVU_CATCH(-1, "PackReturnCode")

RAZIVU_API int32_t PackByteArray(const char *bytes, int32_t count) try {
    return report(msg::pack_bytes(bytes, count), "PackByteArray");
} RAZIVU_CATCH(-1, "PackByteArray")

}  // extern "C"
