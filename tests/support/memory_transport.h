// An in-memory peer for the message layer: what the layer sends is kept piece
// by piece, what it reads comes from a prepared byte string, and every count
// it asks for is recorded. Header-only, so unit tests, fuzz targets and
// benchmarks share it without a build change.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <razivu/diagnostics.h>
#include <razivu/message.h>

namespace razivu::test {

// The socket value the peer registers; every call records what it was given.
constexpr int32_t memory_socket = 77;
// What the peer pushes when it has fewer bytes than asked, before returning
// the short count, as a socket transport reports a closed connection.
constexpr const char *memory_receive_name = "MemoryReceive";

struct MemoryPeer {
    std::string sent;                  // every byte the layer sent, in order
    std::vector<int32_t> pieces;       // the count of each send call
    std::string input;                 // the bytes the layer will read
    std::size_t read_pos = 0;          // first byte of input not yet read
    std::vector<int32_t> reads;        // the count asked by each receive call
    int32_t last_socket = -1;          // socket of the latest call of either slot
    bool report_short_read = true;     // push before returning a short count

    std::string unread() const { return input.substr(read_pos); }

    // Forgets what was sent and read but keeps every capacity, so a loop
    // that rewinds allocates nothing.
    void rewind() {
        sent.clear();
        pieces.clear();
        reads.clear();
        read_pos = 0;
    }
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
        COMPushError(memory_receive_name, RAZIVU_E_NOTHING_RECEIVED);
    }
    return static_cast<int32_t>(n);
}

// Registers the peer with the layer, gives it input to be read, and empties
// the message buffer.
inline MemoryPeer &use_memory_peer(std::string input = {}) {
    MemoryPeer &peer = memory_peer();
    peer.rewind();
    peer.input = std::move(input);
    SetTransport(memory_send, memory_receive, memory_socket);
    ResetBuffer();
    return peer;
}

// One record of the error stack as (function name, code).
using Push = std::pair<std::string, int32_t>;

// Pops the whole error stack, oldest record first. The function name is taken
// from the record's text, "<label> function <name>:  <text>".
inline std::vector<Push> take_pushes() {
    static constexpr std::string_view marker = " function ";
    std::vector<Push> pushes;
    ErrorRecord rec{};
    while (COMPopError(&rec) != 0) {
        std::string text = rec.text;
        const std::size_t from = text.find(marker);
        const std::size_t to = text.find(":  ");
        std::string name = from == std::string::npos || to == std::string::npos
                               ? text
                               : text.substr(from + marker.size(), to - from - marker.size());
        pushes.emplace_back(std::move(name), rec.code);
    }
    std::reverse(pushes.begin(), pushes.end());
    return pushes;
}

}  // namespace razivu::test
