// The plain socket calls on Windows, through WinSock.

// select() takes as many sockets as its sets hold: room for a listening
// process's or a proxy's every connection, not WinSock's default of 64.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/sockets.h"

static_assert(FD_SETSIZE == razivu::platform::net::max_watched_sockets);

namespace razivu::platform::net {
namespace {

constexpr DWORD message_cap = 256;
constexpr long ms_per_second = 1000;
constexpr long us_per_ms = 1000;

// Process-wide: what error_text() and would_block() report.
struct Failure {
    int error = 0;  // WSAGetLastError of the latest failed call
};
Failure failure;

int32_t failed() {
    failure.error = WSAGetLastError();
    return -1;
}

// A count of bytes, the call made again while it is interrupted.
template <typename Call>
int32_t retried(Call call) {
    for (;;) {
        const int n = call();
        if (n != SOCKET_ERROR) {
            return n;
        }
        if (WSAGetLastError() != WSAEINTR) {
            return failed();
        }
    }
}

SOCKET as_socket(int32_t s) {
    return static_cast<SOCKET>(s);
}

const sockaddr *as_address(const Endpoint &e) {
    return reinterpret_cast<const sockaddr *>(e.bytes);
}

// Not inherited: see sockets.h.
SOCKET not_inherited(SOCKET s) {
    if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

SOCKET new_socket(const Endpoint &e) {
    return not_inherited(::socket(as_address(e)->sa_family, SOCK_STREAM, 0));
}

}  // namespace

// A connect that failed shows in the exception set, and counts as writable
// (connect_finished then tells why).
int32_t wait_any(std::span<Watch> watched, int32_t timeout_ms) {
    fd_set reads;
    fd_set writes;
    fd_set failures;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&failures);
    for (const Watch &w : watched) {
        if (w.read) {
            FD_SET(as_socket(w.socket), &reads);
        }
        if (w.write) {
            FD_SET(as_socket(w.socket), &writes);
            FD_SET(as_socket(w.socket), &failures);
        }
    }
    const long ms = std::max(timeout_ms, 0);
    timeval limit{ms / ms_per_second, (ms % ms_per_second) * us_per_ms};
    if (reads.fd_count + writes.fd_count == 0) {
        Sleep(static_cast<DWORD>(ms));  // select refuses empty sets
        return 0;
    }
    const int rc = select(0, &reads, &writes, &failures, timeout_ms >= 0 ? &limit : nullptr);
    if (rc == SOCKET_ERROR) {
        return WSAGetLastError() == WSAEINTR ? 0 : failed();
    }
    int32_t ready = 0;
    for (Watch &w : watched) {
        const SOCKET s = as_socket(w.socket);
        w.readable = w.read && FD_ISSET(s, &reads);
        w.writable = w.write && (FD_ISSET(s, &writes) || FD_ISSET(s, &failures));
        ready += w.readable || w.writable ? 1 : 0;
    }
    return ready;
}

int32_t receive_some(int32_t s, char *buf, int32_t cap) {
    return retried([&] { return recv(as_socket(s), buf, cap, 0); });
}

int32_t send_some(int32_t s, const char *data, int32_t len) {
    return retried([&] { return send(as_socket(s), data, len, 0); });
}

void shutdown_send(int32_t s) {
    shutdown(as_socket(s), SD_SEND);
}

void close_socket(int32_t s) {
    closesocket(as_socket(s));
}

void set_blocking(int32_t s, bool blocking) {
    u_long on = blocking ? 0 : 1;
    ioctlsocket(as_socket(s), FIONBIO, &on);
}

bool would_block() {
    return failure.error == WSAEWOULDBLOCK;
}

bool short_of_resources() {
    return failure.error == WSAEMFILE || failure.error == WSAENOBUFS;
}

std::string error_text() {
    return error_text(failure.error);
}

std::string error_text(int code) {
    char text[message_cap] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, text, message_cap, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "WinSock error " + std::to_string(code) : out;
}

Endpoint ipv4_endpoint(uint32_t addr, uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = port;
    Endpoint e;
    std::memcpy(e.bytes, &sin, sizeof sin);
    e.len = sizeof sin;
    return e;
}

std::string endpoint_text(const Endpoint &e) {
    char host[NI_MAXHOST] = {};
    ::getnameinfo(as_address(e), static_cast<int>(e.len), host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    // The port stands at the same place in the addresses of both families.
    return host_port_text(host, ntohs(reinterpret_cast<const sockaddr_in *>(e.bytes)->sin_port));
}

bool local_endpoint(int32_t s, Endpoint &out) {
    int len = static_cast<int>(endpoint_cap);
    if (::getsockname(as_socket(s), reinterpret_cast<sockaddr *>(out.bytes), &len) != 0 ||
        len > static_cast<int>(endpoint_cap)) {
        return false;
    }
    out.len = static_cast<uint32_t>(len);
    return true;
}

int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why) {
    const SOCKET s = new_socket(e);
    const char on = 1;
    const char *step = "socket for";
    if (s != INVALID_SOCKET &&
        (step = "reuse address of", ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
        (step = "bind", ::bind(s, as_address(e), static_cast<int>(e.len)) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        set_blocking(static_cast<int32_t>(s), false);
        return static_cast<int32_t>(s);
    }
    failed();
    why = std::string(step) + " " + endpoint_text(e) + ": " + error_text();
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
    }
    return -1;
}

// A connection accepted on a non-blocking socket is non-blocking too.
int32_t accept_now(int32_t listening) {
    const SOCKET s = not_inherited(accept(as_socket(listening), nullptr, nullptr));
    if (s == INVALID_SOCKET) {
        return failed();
    }
    set_blocking(static_cast<int32_t>(s), true);
    const char on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return static_cast<int32_t>(s);
}

int32_t connect_start(const Endpoint &e, std::string &why) {
    const SOCKET s = new_socket(e);
    if (s != INVALID_SOCKET) {
        set_blocking(static_cast<int32_t>(s), false);
        if (::connect(s, as_address(e), static_cast<int>(e.len)) == 0 || WSAGetLastError() == WSAEWOULDBLOCK) {
            return static_cast<int32_t>(s);
        }
    }
    failed();
    why = error_text();
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
    }
    return -1;
}

bool connect_finished(int32_t s) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(as_socket(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len) != 0) {
        failed();
        return false;
    }
    failure.error = error;
    return error == 0;
}

}  // namespace razivu::platform::net
