#include "client/reply_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <razivu/razivu.h>

#include "client/field_print.h"
#include "common/net_io.h"

namespace razivu_tool::reply {
namespace {

// Enough for the longest read a decoder asks for (RAZIVU_MESSAGE_CAP) and
// several fields of an ordinary reply besides.
constexpr std::size_t held_cap = 4 * RAZIVU_MESSAGE_CAP;

// Process-wide: the reply being read (the receive slot is a plain function).
struct Reader {
    int32_t socket = -1;
    Clock::time_point deadline = no_deadline;
    uint64_t max_bytes = 0;        // received bytes allowed in all
    std::FILE *verbose = nullptr;  // where received bytes are shown, or nowhere
    char held[held_cap] = {};      // received, not yet handed out: [head, tail)
    std::size_t head = 0;
    std::size_t tail = 0;
    uint64_t received = 0;  // bytes received in all
    uint64_t handed = 0;    // bytes handed to the decoders in all
    Stop stop = Stop::none;
    std::string why;  // the system's text of a failure
};
Reader reader;

// Milliseconds to the deadline, at least 0; -1 without one.
int32_t left_ms() {
    if (reader.deadline == no_deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(reader.deadline - Clock::now());
    return static_cast<int32_t>(std::clamp<long long>(left.count(), 0, INT32_MAX));
}

bool halt(Stop why, std::string text = {}) {
    reader.stop = why;
    reader.why = std::move(text);
    return false;
}

// Receives once after waiting at most ms (within the deadline); false when
// nothing came (stop is set only for a real end: failure, close, limit,
// deadline).
bool fill(int32_t ms) {
    if (reader.received >= reader.max_bytes) {
        return halt(Stop::too_large);
    }
    if (reader.head > 0) {
        std::memmove(reader.held, reader.held + reader.head, reader.tail - reader.head);
        reader.tail -= reader.head;
        reader.head = 0;
    }
    const int32_t left = left_ms();
    if (left == 0) {
        return halt(Stop::timed_out);  // also when bytes keep coming
    }
    const int32_t wait_ms = left < 0 ? ms : ms < 0 ? left : std::min(ms, left);
    const int32_t ready = net::wait_readable({&reader.socket, 1}, wait_ms);
    if (ready == net::none_ready) {
        return wait_ms == left ? halt(Stop::timed_out) : false;
    }
    const auto room =
        std::min<uint64_t>(held_cap - reader.tail, reader.max_bytes - reader.received);
    const int32_t n = ready < 0 ? -1
                                : net::receive_some(reader.socket, reader.held + reader.tail,
                                                    static_cast<int32_t>(room));
    if (n <= 0) {
        return n == 0 ? halt(Stop::closed) : halt(Stop::failed, net::error_text());
    }
    if (reader.verbose != nullptr) {
        print_bytes(reader.verbose, '<', reader.received,
                    std::string_view(reader.held + reader.tail, static_cast<std::size_t>(n)));
    }
    COMDebugPrintf("DEBUG: (razivu call) %d bytes received at offset %llu\n", static_cast<int>(n),
                   static_cast<unsigned long long>(reader.received));
    reader.tail += static_cast<std::size_t>(n);
    reader.received += static_cast<uint64_t>(n);
    return true;
}

}  // namespace

void start(int32_t socket, Clock::time_point deadline, uint64_t max_bytes, std::FILE *verbose) {
    reader.socket = socket;
    reader.deadline = deadline;
    reader.max_bytes = max_bytes;
    reader.verbose = verbose;
    reader.head = reader.tail = 0;
    reader.received = reader.handed = 0;
    reader.stop = Stop::none;
    reader.why.clear();
}

int32_t receive(int32_t, char *buffer, int32_t count) {
    const auto n = static_cast<std::size_t>(std::max(count, 0));
    if (n > held_cap) {
        return -1;  // no decoder asks for this much
    }
    while (reader.tail - reader.head < n) {
        if (reader.stop != Stop::none || (!fill(-1) && reader.stop != Stop::none)) {
            return -1;
        }
    }
    std::memcpy(buffer, reader.held + reader.head, n);
    reader.head += n;
    reader.handed += n;
    return count;
}

bool wait(int32_t ms) {
    return reader.tail > reader.head || (reader.stop == Stop::none && fill(ms));
}

uint64_t offset() {
    return reader.handed;
}

uint64_t received() {
    return reader.received;
}

Stop stop() {
    return reader.stop;
}

std::string why() {
    switch (reader.stop) {
    case Stop::none: return "";
    case Stop::closed: return "the server closed the connection";
    case Stop::failed: return reader.why;
    case Stop::timed_out: return "timed out";
    case Stop::too_large:
        return "the reply passed " + std::to_string(reader.max_bytes) + " bytes (--max-bytes)";
    }
    return "";
}

}  // namespace razivu_tool::reply
