// Fields of the wire format for the tool's commands.
#include "common/fields.h"

#include "common/numbers.h"

#include <cstring>

namespace razivu_tool {
namespace {

constexpr int32_t max_boolean = 9;  // the decoder reads one character

// The longest data a decoder reads: data and separator fill the message buffer.
constexpr int32_t max_decoded_len = RAZIVU_MESSAGE_CAP - 1;

// The header that read_field has read ahead of a decoder.
struct Replay {
    char header[field_header_len] = {};
    bool pending = false;                 // not yet handed to the decoder
    RazivuTransportFn receive = nullptr;  // where the rest of the field comes from
};
Replay replay;

// The receive slot while read_field decodes: the header read ahead first,
// then the real source (none for field_size).
int32_t replay_receive(int32_t handle, char *buffer, int32_t count) {
    if (replay.pending) {
        replay.pending = false;
        if (count != field_header_len) {
            return -1;
        }
        std::memcpy(buffer, replay.header, field_header_len);
        return count;
    }
    return replay.receive != nullptr ? replay.receive(handle, buffer, count) : -1;
}

// Hands the header to decoder as the next bytes.
void replay_header(const char *header, RazivuTransportFn receive, int32_t handle) {
    std::memcpy(replay.header, header, field_header_len);
    replay.pending = true;
    replay.receive = receive;
    SetTransport(nullptr, replay_receive, handle);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parse_hex(const char *text, std::string &out) {
    const std::size_t len = std::strlen(text);
    if (len % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < len; i += 2) {
        const int hi = hex_digit(text[i]);
        const int lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

// "null" after any backslashes loses one of them: s:\null is the text
// null, s:\\null the text \null; plain null is the null value.
const char *unescape_null(const char *value) {
    const char *p = value;
    while (*p == '\\') {
        ++p;
    }
    return p != value && std::strcmp(p, "null") == 0 ? value + 1 : value;
}

bool decode_text(int32_t (*decoder)(char **), Kind kind, Field &out) {
    char *text = nullptr;
    if (decoder(&text) != 0) {
        return false;
    }
    out = Field{kind, 0, text != nullptr ? text : "", text == nullptr};
    UnpackFree(text);
    return true;
}

bool decode_number(int32_t (*decoder)(int32_t *), Kind kind, Field &out) {
    int32_t value = 0;
    if (decoder(&value) != 0) {
        return false;
    }
    out = Field{kind, value, {}, false};
    return true;
}

bool decode_bytes(Field &out) {
    char *bytes = nullptr;
    int32_t count = 0;
    if (UnpackByteArray(&bytes, &count) == 0) {
        out = Field{Kind::bytes, 0, std::string(bytes, static_cast<std::size_t>(count)), false};
        UnpackFree(bytes);
        return true;
    }
    if (count == -1) {  // a-0001|: the null value, read whole
        ErrorRecord rec{};
        COMPopError(&rec);
        out = Field{Kind::bytes, 0, {}, true};
        return true;
    }
    return false;
}

}  // namespace

bool parse_argument(const char *text, Field &out, std::string &reason) {
    if (text == nullptr || std::strlen(text) < 2 || text[1] != ':') {
        reason = "an argument is KIND:VALUE with KIND one of s, i, b, a";
        return false;
    }
    const char *value = text + 2;
    const bool null = std::strcmp(value, "null") == 0;
    switch (text[0]) {
    case 's': out = Field{Kind::string, 0, null ? "" : unescape_null(value), null}; return true;
    case 'a':
        out = Field{Kind::bytes, 0, {}, null};
        if (null || parse_hex(value, out.data)) {
            return true;
        }
        reason = "a: takes pairs of hex digits or null";
        return false;
    case 'i':
        out = Field{Kind::integer, 0, {}, false};
        if (parse_int32(value, INT32_MIN, INT32_MAX, out.number)) {
            return true;
        }
        reason = "i: takes a 32-bit decimal integer";
        return false;
    case 'b':
        out = Field{Kind::boolean, 0, {}, false};
        if (parse_int32(value, 0, max_boolean, out.number)) {
            return true;
        }
        reason = "b: takes one digit, 0 to 9";
        return false;
    default: reason = "unknown kind; use s, i, b or a"; return false;
    }
}

int32_t pack(const Field &f) {
    switch (f.kind) {
    case Kind::function: return PackFunctionName(f.data.c_str());
    case Kind::return_code: return PackReturnCode(f.number);
    case Kind::string: return PackString(f.null ? nullptr : f.data.c_str());
    case Kind::integer: return PackInteger(f.number);
    case Kind::boolean: return PackBoolean(f.number);
    case Kind::bytes:
        return PackByteArray(f.null ? nullptr : f.data.data(), static_cast<int32_t>(f.data.size()));
    }
    return -1;
}

bool is_type_tag(char tag) {
    return tag != '\0' && std::strchr("#sibra", tag) != nullptr;
}

bool decode(char tag, Field &out) {
    switch (tag) {
    case '#': return decode_text(UnpackFunctionName, Kind::function, out);
    case 's': return decode_text(UnpackString, Kind::string, out);
    case 'i': return decode_number(UnpackInteger, Kind::integer, out);
    case 'b': return decode_number(UnpackBoolean, Kind::boolean, out);
    case 'r': return decode_number(UnpackReturnCode, Kind::return_code, out);
    case 'a': return decode_bytes(out);
    default: return false;
    }
}

ReadResult read_field(RazivuTransportFn receive, int32_t handle, Field &out) {
    char header[field_header_len];
    const int32_t got = receive(handle, header, field_header_len);
    if (got == 0) {
        return ReadResult::closed;
    }
    if (got != field_header_len) {
        return ReadResult::failed;
    }
    replay_header(header, receive, handle);
    const bool ok = decode(header[0], out);
    replay.pending = false;
    SetTransport(nullptr, receive, handle);
    return ok ? ReadResult::field : ReadResult::failed;
}

std::string last_header() {
    return std::string(replay.header, field_header_len);
}

ReadResult read_field(int32_t socket, Field &out) {
    return read_field(COMReceive, socket, out);
}

bool field_size(const char *header, int32_t &size_out) {
    char as_code[field_header_len];
    std::memcpy(as_code, header, field_header_len);
    as_code[0] = 'r';  // a return code's decoder hands out the slot's value as it stands
    replay_header(as_code, nullptr, GetSocket());
    int32_t len = 0;
    const bool ok = UnpackReturnCode(&len) == 0;
    replay.pending = false;
    if (!ok) {
        drop_errors();
        return false;
    }
    const bool data_follow = header[0] != 'r' && len >= 0 && len <= max_decoded_len;
    size_out = field_header_len + (data_follow ? len + 1 : 0);
    return true;
}

int32_t discard_send(int32_t, char *, int32_t count) {
    return count;
}

std::string last_error() {
    const char *text = COMGetLastErrorText();
    return text != nullptr ? text : "no error recorded";
}

void drop_errors() {
    while (COMGetLastErrorText() != nullptr) {
    }
}

}  // namespace razivu_tool
