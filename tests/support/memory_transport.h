// An in-memory peer for the message layer, and the wire bytes and decoding of
// the tool's fields as the tests compare them: shared by the message tests,
// the fuzz targets and the benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <razivu/diagnostics.h>
#include <razivu/message.h>

#include "tools/common/fields.h"

namespace razivu::test {

using razivu_tool::Field;
using razivu_tool::Kind;
constexpr int kind_count = 6;
constexpr int32_t memory_socket = 77;  // what use_memory_peer registers

struct MemoryPeer {
    std::string sent;               // every byte sent, in order
    std::vector<int32_t> pieces;    // the count of each send call
    std::string input;              // the bytes the layer will read
    std::size_t read_pos = 0;       // first byte of input not yet read
    std::vector<int32_t> reads;     // the count asked by each receive call
    int32_t last_socket = -1;       // socket of the latest call of either slot
    bool report_short_read = true;  // push as a closed socket does before a short count

    std::string unread() const { return input.substr(read_pos); }
    // Keeps every capacity, so a loop that rewinds allocates nothing.
    void rewind() { sent.clear(), pieces.clear(), reads.clear(), read_pos = 0; }
};

inline MemoryPeer &memory_peer() {
    static MemoryPeer peer;
    return peer;
}

inline int32_t memory_send(int32_t socket, char *buffer, int32_t count) {
    MemoryPeer &peer = memory_peer();
    peer.last_socket = socket;
    peer.pieces.push_back(count);
    peer.sent.append(buffer, static_cast<std::size_t>(count));
    return count;
}

inline int32_t memory_receive(int32_t socket, char *buffer, int32_t count) {
    MemoryPeer &peer = memory_peer();
    peer.last_socket = socket;
    peer.reads.push_back(count);
    const std::size_t n = std::min(peer.input.size() - peer.read_pos, static_cast<std::size_t>(count));
    std::memcpy(buffer, peer.input.data() + peer.read_pos, n);
    peer.read_pos += n;
    if (n < static_cast<std::size_t>(count) && peer.report_short_read) {
        COMPushError("MemoryReceive", RAZIVU_E_NOTHING_RECEIVED);
    }
    return static_cast<int32_t>(n);
}

// Registers the peer with the given input and empties the message buffer.
inline MemoryPeer &use_memory_peer(std::string input = {}) {
    MemoryPeer &peer = memory_peer();
    peer.rewind();
    peer.input = std::move(input);
    SetTransport(memory_send, memory_receive, memory_socket);
    ResetBuffer();
    return peer;
}

inline bool has_block(Kind kind) { return kind == Kind::string || kind == Kind::function || kind == Kind::bytes; }

// Fields as old peers write them with printf, to build input by hand.
inline std::string header_bytes(char tag, long len) {
    char text[16];
    std::snprintf(text, sizeof text, len < 0 ? "%c%4.4ld|" : "%c%5.5ld|", tag, len);
    return text;
}

inline std::string field_bytes(char tag, const std::string &data) {
    return header_bytes(tag, static_cast<long>(data.size())) + data + "|";
}

inline std::string wire_bytes(const Field &f) {
    const char tag = "#rsiba"[static_cast<int>(f.kind)];
    if (f.kind == Kind::return_code || f.null) {
        return header_bytes(tag, f.kind == Kind::return_code ? f.number : -1);
    }
    return field_bytes(tag, has_block(f.kind) ? f.data : std::to_string(f.number));
}

// What one decoder call gave; the marks stand for "output not touched".
inline char untouched_block;
constexpr int32_t untouched_value = -424242;
struct Decoded {
    int32_t rc = 0;
    int32_t value = untouched_value;  // value kinds and byte counts
    char *block = &untouched_block;
    std::string data;  // the block's bytes, "<null>", "<untouched>", or the value
};

inline Decoded decode_field(Kind kind) {
    Decoded d;
    switch (kind) {
    case Kind::string: d.rc = UnpackString(&d.block); break;
    case Kind::function: d.rc = UnpackFunctionName(&d.block); break;
    case Kind::boolean: d.rc = UnpackBoolean(&d.value); break;
    case Kind::integer: d.rc = UnpackInteger(&d.value); break;
    case Kind::return_code: d.rc = UnpackReturnCode(&d.value); break;
    case Kind::bytes: d.rc = UnpackByteArray(&d.block, &d.value); break;
    }
    if (!has_block(kind)) {
        d.data = std::to_string(d.value);
    } else if (d.block == nullptr || d.block == &untouched_block) {
        d.data = d.block == nullptr ? "<null>" : "<untouched>";
    } else if (kind != Kind::bytes) {
        d.data = d.block;
    } else {
        d.data = d.value < 0 ? "<count " + std::to_string(d.value) + ">"
                             : std::string(d.block, static_cast<std::size_t>(d.value));
    }
    return d;
}

inline void release(const Decoded &d) {
    if (d.block != &untouched_block) {
        UnpackFree(d.block);
    }
}

}  // namespace razivu::test
