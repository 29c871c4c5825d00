// Read-ahead: exact-count reads served from a per-socket buffer that large
// recv calls fill, for callers that let the library read past a field.
#include <algorithm>
#include <atomic>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "razivu/diagnostics.h"
#include "razivu/transport.h"
#include "rpc/message_internal.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

struct Buffered {
    std::unique_ptr<char[]> bytes;  // read_ahead_cap bytes once read-ahead was on
    uint64_t id = 0;                // which allocation bytes is, for a lender's late copy
    int32_t begin = 0;              // first byte not yet served
    int32_t end = 0;                // one past the last byte received
    bool on = false;                // fills allowed; off, the rest is still served
    std::string gathered;           // pieces of the message being sent, not yet sent
};

// Process-wide read-ahead state: sockets that have it on or bytes left. The
// lock is held while the table is searched or changed, never across a recv:
// an entry is used by the thread working on its socket (one socket is never
// used by two threads at once), and elements of the map keep their place.
struct ReadAhead {
    platform::Lock lock;
    std::unordered_map<int32_t, Buffered> sockets;
    std::atomic<std::size_t> count{0};     // entries, read without the lock
    std::atomic<uint64_t> changes{0};      // entries made or erased so far
    uint64_t last_id = 0;                  // id of the latest allocation
};
ReadAhead read_ahead;

// The socket a thread looked up last: a call reads one socket many times in
// a row. Good while no entry has been made or erased since.
struct Recent {
    int32_t socket = -1;
    uint64_t changes = 0;
    Buffered *entry = nullptr;
};
platform::PerThread<Recent> recent;

// The table is searched only when the thread's last look-up does not stand.
[[gnu::noinline]] Buffered *look_up(int32_t s, Recent &r) {
    platform::Locked held(read_ahead.lock);
    const auto found = read_ahead.sockets.find(s);
    r = Recent{s, read_ahead.changes.load(std::memory_order_relaxed),
               found != read_ahead.sockets.end() ? &found->second : nullptr};
    return r.entry;
}

inline Buffered *state_of(int32_t s) {
    if (read_ahead.count.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    Recent &r = recent.get();
    if (r.socket == s && r.changes == read_ahead.changes.load(std::memory_order_acquire)) {
        return r.entry;
    }
    return look_up(s, r);
}

// n bytes from the buffer where they lie, when it holds them all.
const char *take_from(Buffered &b, int32_t n, uint64_t *id_out) {
    if (b.end - b.begin < n) {
        return nullptr;
    }
    const char *bytes = b.bytes.get() + b.begin;
    b.begin += n;
    *id_out = b.id;
    return bytes;
}

// The caller holds the lock.
void changed_locked() {
    read_ahead.count.store(read_ahead.sockets.size(), std::memory_order_release);
    read_ahead.changes.fetch_add(1, std::memory_order_release);
}

// A read the message layer took from the buffer is handed over before the
// buffer goes or is refilled.
void keep_lent_bytes(const Buffered &b) {
    if (b.bytes) {
        message::keep_last_read(b.bytes.get(), static_cast<std::size_t>(read_ahead_cap));
    }
}

void forget(int32_t s) {
    if (const Buffered *b = state_of(s); b != nullptr) {
        keep_lent_bytes(*b);
        platform::Locked held(read_ahead.lock);
        read_ahead.sockets.erase(s);
        changed_locked();
    }
}

// Nothing left to serve or to send and no more fills: the entry goes.
void forget_if_spent(int32_t s, const Buffered &b) {
    if (b.begin == b.end && !b.on && b.gathered.empty()) {
        forget(s);
    }
}

int32_t recv_from_socket(int32_t s, char *buffer, int32_t count, int32_t flags) {
    const auto recv = platform::net_calls().recv;
    return retry_interrupted([&] { return recv(s, buffer, count, flags); });
}

}  // namespace

// Switched off, pieces already gathered still leave with the final one.
void set_read_ahead(int32_t s, bool on) {
    if (!on) {
        if (Buffered *b = state_of(s); b != nullptr) {
            b->on = false;
            forget_if_spent(s, *b);
        }
        return;
    }
    platform::Locked held(read_ahead.lock);
    Buffered &b = read_ahead.sockets[s];
    if (!b.bytes) {
        b.bytes = std::make_unique<char[]>(read_ahead_cap);
        b.id = ++read_ahead.last_id;
        changed_locked();
    }
    b.on = true;
}

void start_read_ahead_if_asked(int32_t s) {
    const char *asked = platform::env("RAZIVU_READAHEAD");
    if (asked != nullptr && std::strcmp(asked, "1") == 0) {
        set_read_ahead(s, true);
    }
}

void drop_read_ahead(int32_t s) {
    forget(s);
}

int32_t buffered_bytes(int32_t s) {
    const Buffered *b = state_of(s);
    return b != nullptr ? b->end - b->begin : 0;
}

bool has_buffered(int32_t s) {
    return buffered_bytes(s) > 0;
}

// A read the buffer cannot help (its count as large as the buffer, or flags
// the buffer cannot honour) goes to the socket, once the buffer is empty.
int32_t receive_some(int32_t s, char *buffer, int32_t count, int32_t flags) {
    Buffered *state = state_of(s);
    if (state == nullptr) {
        return recv_from_socket(s, buffer, count, flags);
    }
    Buffered &b = *state;
    if (b.begin == b.end) {
        if (!b.on) {
            forget_if_spent(s, b);
            return recv_from_socket(s, buffer, count, flags);
        }
        if (count >= read_ahead_cap || flags != 0) {
            return recv_from_socket(s, buffer, count, flags);
        }
        keep_lent_bytes(b);
        const int32_t got = recv_from_socket(s, b.bytes.get(), read_ahead_cap, 0);
        if (got <= 0) {
            return got;
        }
        b.begin = 0;
        b.end = got;
    }
    const int32_t n = std::min(count, b.end - b.begin);
    std::memcpy(buffer, b.bytes.get() + b.begin, static_cast<std::size_t>(n));
    b.begin += n;
    forget_if_spent(s, b);
    return n;
}

const char *take_more(int32_t s, int32_t n, uint64_t *id_out) {
    Buffered *b = state_of(s);
    return b != nullptr ? take_from(*b, n, id_out) : nullptr;
}

bool copy_lent(int32_t s, uint64_t id, const char *from, int32_t len, char *out) {
    platform::Locked held(read_ahead.lock);
    const auto found = read_ahead.sockets.find(s);
    if (found == read_ahead.sockets.end() || found->second.id != id || len < 0) {
        return false;
    }
    const char *start = found->second.bytes.get();
    const std::less_equal<const char *> not_after;
    if (!not_after(start, from) || !not_after(from + len, start + read_ahead_cap)) {
        return false;
    }
    std::memcpy(out, from, static_cast<std::size_t>(len));
    return true;
}

// Read-ahead on, so that taking bytes never spends the buffer and drops it.
// A socket with a buffer is not retired (retiring drops it, and a buffer is
// made only for a socket that was just adopted or that COMSetSockReadAhead
// accepted), so COMReadSock would refuse nothing here.
const char *take_buffered(int32_t s, int32_t n, uint64_t *id_out) {
    Buffered *b = state_of(s);
    if (b == nullptr || !b->on || !b->gathered.empty() || holds_piece(s)) {
        return nullptr;
    }
    return take_from(*b, n, id_out);
}

std::string *gathered_pieces(int32_t s) {
    Buffered *b = state_of(s);
    return b != nullptr && (b->on || !b->gathered.empty()) ? &b->gathered : nullptr;
}

}  // namespace razivu::transport

namespace {

// An open socket of the caller's; false, with EBADF pushed, otherwise.
bool open_socket(int32_t sock, const char *function) {
    if (razivu::transport::refuse_handle(sock, function)) {
        return false;
    }
    razivu::platform::SocketIdentity identity;
    if (razivu::platform::net_calls().identity(sock, &identity) != 0) {
        razivu::platform::set_errno(EBADF);
        COMPushSysError(function);
        return false;
    }
    return true;
}

}  // namespace

extern "C" RAZIVU_API int32_t COMSetSockReadAhead(int32_t sock, int32_t on) try {
    if (!open_socket(sock, "COMSetSockReadAhead")) {
        return -1;
    }
    razivu::transport::set_read_ahead(sock, on != 0);
    return 0;
} RAZIVU_CATCH(-1, "COMSetSockReadAhead")

extern "C" RAZIVU_API int32_t COMGetSockReadAhead(int32_t sock) try {
    if (!open_socket(sock, "COMGetSockReadAhead")) {
        return -1;
    }
    return razivu::transport::buffered_bytes(sock);
} RAZIVU_CATCH(-1, "COMGetSockReadAhead")
