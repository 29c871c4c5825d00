// Read-ahead: exact-count reads served from a per-socket buffer that large
// recv calls fill, for callers that let the library read past a field.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/diagnostics.h"
#include "razivu/transport.h"
#include "rpc/transport_internal.h"

namespace razivu::transport {
namespace {

struct Buffered {
    std::unique_ptr<char[]> bytes;  // read_ahead_cap bytes once read-ahead was on
    int32_t begin = 0;              // first byte not yet served
    int32_t end = 0;                // one past the last byte received
    bool on = false;                // fills allowed; off, the rest is still served
    std::string gathered;           // pieces of the message being sent, not yet sent
};

// Process-wide read-ahead state: sockets that have it on or bytes left.
struct ReadAhead {
    std::unordered_map<int32_t, Buffered> sockets;
};
ReadAhead read_ahead;

int32_t recv_from_socket(int32_t s, char *buffer, int32_t count, int32_t flags) {
    const auto recv = platform::net_calls().recv;
    return retry_interrupted([&] { return recv(s, buffer, count, flags); });
}

}  // namespace

// Switched off, pieces already gathered still leave with the final one.
void set_read_ahead(int32_t s, bool on) {
    if (!on) {
        const auto found = read_ahead.sockets.find(s);
        if (found != read_ahead.sockets.end()) {
            found->second.on = false;
            if (found->second.begin == found->second.end && found->second.gathered.empty()) {
                read_ahead.sockets.erase(found);
            }
        }
        return;
    }
    Buffered &b = read_ahead.sockets[s];
    if (!b.bytes) {
        b.bytes = std::make_unique<char[]>(read_ahead_cap);
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
    read_ahead.sockets.erase(s);
}

int32_t buffered_bytes(int32_t s) {
    const auto found = read_ahead.sockets.find(s);
    return found != read_ahead.sockets.end() ? found->second.end - found->second.begin : 0;
}

bool has_buffered(int32_t s) {
    return buffered_bytes(s) > 0;
}

// A read the buffer cannot help (its count as large as the buffer, or flags
// the buffer cannot honour) goes to the socket, once the buffer is empty.
int32_t receive_some(int32_t s, char *buffer, int32_t count, int32_t flags) {
    const auto found = read_ahead.sockets.find(s);
    if (found == read_ahead.sockets.end()) {
        return recv_from_socket(s, buffer, count, flags);
    }
    Buffered &b = found->second;
    if (b.begin == b.end) {
        if (!b.on) {
            read_ahead.sockets.erase(found);
            return recv_from_socket(s, buffer, count, flags);
        }
        if (count >= read_ahead_cap || flags != 0) {
            return recv_from_socket(s, buffer, count, flags);
        }
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
    if (b.begin == b.end && !b.on && b.gathered.empty()) {
        read_ahead.sockets.erase(found);
    }
    return n;
}

std::string *gathered_pieces(int32_t s) {
    const auto found = read_ahead.sockets.find(s);
    if (found == read_ahead.sockets.end()) {
        return nullptr;
    }
    return found->second.on || !found->second.gathered.empty() ? &found->second.gathered
                                                                : nullptr;
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
