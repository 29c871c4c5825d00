// Fields of the wire format for the tool's commands.
#include "fields.h"

#include "numbers.h"

#include <cctype>
#include <cstring>

namespace razivu_tool {
namespace {

constexpr int32_t max_boolean = 9;  // the decoder reads one character

// The header that read_field has read ahead of a decoder.
struct Replay {
    char header[field_header_len] = {};
    bool pending = false;  // not yet handed to the decoder
};
Replay replay;

// The receive slot while read_field decodes: the header read ahead first,
// then the socket.
int32_t replay_receive(int32_t socket, char *buffer, int32_t count) {
    if (replay.pending) {
        replay.pending = false;
        if (count != field_header_len) {
            return -1;
        }
        std::memcpy(buffer, replay.header, field_header_len);
        return count;
    }
    return COMReceive(socket, buffer, count);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
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

void print_quoted(std::FILE *out, const std::string &text) {
    std::fputc('"', out);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            std::fprintf(out, "\\%c", c);
        } else if (c == '\n') {
            std::fputs("\\n", out);
        } else if (c == '\t') {
            std::fputs("\\t", out);
        } else if (std::isprint(c) != 0) {
            std::fputc(c, out);
        } else {
            std::fprintf(out, "\\x%02x", c);
        }
    }
    std::fputc('"', out);
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

const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::function: return "function";
    case Kind::return_code: return "return";
    case Kind::string: return "string";
    case Kind::integer: return "integer";
    case Kind::boolean: return "boolean";
    case Kind::bytes: return "bytes";
    }
    return "?";
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
    case 's':
        out = Field{Kind::string, 0, null ? "" : value, null};
        return true;
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
    default:
        reason = "unknown kind; use s, i, b or a";
        return false;
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

void print(std::FILE *out, const Field &f) {
    std::fprintf(out, "%-8s ", kind_name(f.kind));
    if (f.null) {
        std::fputs("null", out);
    } else if (f.kind == Kind::string || f.kind == Kind::function) {
        print_quoted(out, f.data);
    } else if (f.kind == Kind::bytes) {
        for (unsigned char c : f.data) {
            std::fprintf(out, "%02x", c);
        }
        std::fprintf(out, " (%lu bytes)", static_cast<unsigned long>(f.data.size()));
    } else {
        std::fprintf(out, "%d", static_cast<int>(f.number));
    }
    std::fputc('\n', out);
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

ReadResult read_field(int32_t socket, Field &out) {
    const int32_t got = COMReceive(socket, replay.header, field_header_len);
    if (got == 0) {
        return ReadResult::closed;
    }
    if (got != field_header_len) {
        return ReadResult::failed;
    }
    replay.pending = true;
    SetTransport(nullptr, replay_receive, socket);
    const bool ok = decode(replay.header[0], out);
    replay.pending = false;
    SetTransport(nullptr, COMReceive, socket);
    return ok ? ReadResult::field : ReadResult::failed;
}

int32_t discard_send(int32_t, char *, int32_t count) {
    return count;
}

std::string last_error() {
    const char *text = COMGetLastErrorText();
    return text != nullptr ? text : "no error recorded";
}

}  // namespace razivu_tool
