// Fields of the wire format, packed and decoded through the public calls of
// the message layer.
#include "common/fields.h"

#include <algorithm>
#include <cstring>

namespace razivu_tool {
namespace {

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

namespace {

// The value of a header's length slot as the decoders read it; false, with
// nothing pushed, when the header has no separator.
bool slot_value(const char *header, int32_t &len_out) {
    if (header[field_header_len - 1] != '|') {
        return false;
    }
    char as_code[field_header_len];
    std::memcpy(as_code, header, field_header_len);
    as_code[0] = 'r';  // a return code's decoder hands out the slot's value as it stands
    replay_header(as_code, nullptr, GetSocket());
    const bool ok = UnpackReturnCode(&len_out) == 0;
    replay.pending = false;
    return ok;
}

// The bytes of one whole field, handed to a decoder as its receive slot.
struct Memory {
    const char *data = nullptr;
    std::size_t len = 0;
    std::size_t pos = 0;  // next byte to hand out
};
Memory memory;

int32_t memory_receive(int32_t, char *buffer, int32_t count) {
    const std::size_t n = std::min(memory.len - memory.pos, static_cast<std::size_t>(std::max(count, 0)));
    std::memcpy(buffer, memory.data + memory.pos, n);
    memory.pos += n;
    return static_cast<int32_t>(n);
}

// The bytes the decoder of a field with this tag and length slot reads.
int32_t size_of(char tag, int32_t len) {
    const bool data_follow = tag != 'r' && len >= 0 && len <= max_decoded_len;
    return field_header_len + (data_follow ? len + 1 : 0);
}

}  // namespace

bool field_size(const char *header, int32_t &size_out) {
    int32_t len = 0;
    if (!slot_value(header, len)) {
        return false;
    }
    size_out = size_of(header[0], len);
    return true;
}

ReadResult read_field(std::string_view bytes, Field &out, std::size_t &taken_out) {
    memory = Memory{bytes.data(), bytes.size(), 0};
    const ReadResult r = read_field(memory_receive, -1, out);
    taken_out = memory.pos;
    return r;
}

int32_t discard_send(int32_t, char *, int32_t count) {
    return count;
}

void drop_errors() {
    while (COMGetLastErrorText() != nullptr) {
    }
}

}  // namespace razivu_tool
