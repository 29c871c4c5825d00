// The packers. Each appends one typed field straight into the message
// buffer; when the field would not fit, the bytes packed so far go out first,
// so a message leaves in pieces that end at field boundaries. Nothing here
// allocates.
#include <cstring>

#include "diagnostics/boundary.h"
#include "razivu/diagnostics.h"
#include "rpc/message_internal.h"
#include "razivu/message.h"

namespace {

namespace msg = razivu::message;

// Length of text when it is at most max, else max + 1; reads no further.
int32_t bounded_len(const char *text, int32_t max) {
    const void *nul = std::memchr(text, '\0', static_cast<std::size_t>(max) + 1);
    return nul == nullptr ? max + 1 : static_cast<int32_t>(static_cast<const char *>(nul) - text);
}

// Writes the header of a field whose slot holds value; returns the byte after it.
char *put_header(char *out, char tag, int32_t value) {
    out[0] = tag;
    msg::write_slot(out + 1, value);
    out[msg::header_len - 1] = msg::separator;
    return out + msg::header_len;
}

// Appends a field of len data bytes, or a null value for len -1; len has
// been checked against max_field_data.
int32_t pack_field(char tag, const char *data, int32_t len) {
    char *out = msg::room_for(len + msg::field_overhead);
    if (out == nullptr) {
        return -1;
    }
    char *body = put_header(out, tag, len);
    if (len == msg::null_len) {
        msg::advance(msg::header_len);
        return 0;
    }
    std::memcpy(body, data, static_cast<std::size_t>(len));
    body[len] = msg::separator;
    msg::advance(len + msg::field_overhead);
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
    char *out = room_for(header_len + 1);
    if (out == nullptr) {
        return -1;
    }
    put_header(out, tag_return, code);
    advance(header_len);
    return 0;
}

}  // namespace razivu::message

extern "C" {

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
