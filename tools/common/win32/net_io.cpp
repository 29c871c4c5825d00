// The tool's socket calls on Windows, through WinSock.
#include "common/net_io.h"

// select() takes as many sockets as its sets hold: room for a proxy's or a
// server's every connection, not WinSock's default of 64.
#define FD_SETSIZE 1024
#include <winsock2.h>

#include <windows.h>

static_assert(FD_SETSIZE == razivu_tool::net::max_watched_sockets);

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace razivu_tool::net {
namespace {

using Clock = std::chrono::steady_clock;
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

SOCKET as_socket(int32_t s) {
    return static_cast<SOCKET>(s);
}

// The tool's sockets are its own: a process it starts must not hold one open
// (a connection would never see its end, a listening socket would go on
// taking connections).
SOCKET not_inherited(SOCKET s) {
    if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

timeval as_timeval(long ms) {
    return timeval{ms / ms_per_second, (ms % ms_per_second) * us_per_ms};
}

std::string ipv4_text(uint32_t addr) {
    const auto *b = reinterpret_cast<const unsigned char *>(&addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

}  // namespace

int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        for (const int32_t s : sockets) {
            FD_SET(as_socket(s), &ready);
        }
        timeval limit{};
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            limit = as_timeval(static_cast<long>(std::max<long long>(0, left.count())));
        }
        const int rc = select(0, &ready, nullptr, nullptr, timeout_ms >= 0 ? &limit : nullptr);
        if (rc == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) {
            continue;
        }
        if (rc == SOCKET_ERROR) {
            return failed();
        }
        for (std::size_t i = 0; i < sockets.size() && rc > 0; ++i) {
            if (FD_ISSET(as_socket(sockets[i]), &ready)) {
                return static_cast<int32_t>(i);
            }
        }
        return none_ready;
    }
}

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
    timeval limit = as_timeval(std::max(timeout_ms, 0));
    if (reads.fd_count + writes.fd_count == 0) {
        Sleep(static_cast<DWORD>(std::max(timeout_ms, 0)));  // select refuses empty sets
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
    for (;;) {
        const int n = recv(as_socket(s), buf, cap, 0);
        if (n != SOCKET_ERROR) {
            return n;
        }
        if (WSAGetLastError() != WSAEINTR) {
            return failed();
        }
    }
}

int32_t send_some(int32_t s, const char *data, int32_t len) {
    for (;;) {
        const int n = send(as_socket(s), data, len, 0);
        if (n != SOCKET_ERROR) {
            return n;
        }
        if (WSAGetLastError() != WSAEINTR) {
            return failed();
        }
    }
}

bool would_block() {
    return failure.error == WSAEWOULDBLOCK;
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

int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = port;
    const std::string where = ipv4_text(addr) + ":" + std::to_string(ntohs(port));
    const SOCKET s = not_inherited(::socket(AF_INET, SOCK_STREAM, 0));
    const char on = 1;
    const char *step = "socket for";
    if (s != INVALID_SOCKET &&
        (step = "reuse address of", ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
        (step = "bind", ::bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        set_blocking(static_cast<int32_t>(s), false);
        return static_cast<int32_t>(s);
    }
    failed();
    why = std::string(step) + " " + where + ": WinSock error " + std::to_string(failure.error);
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

std::string error_text() {
    return error_text(failure.error);
}

std::string error_text(int code) {
    char text[message_cap] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, message_cap, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "WinSock error " + std::to_string(code) : out;
}

}  // namespace razivu_tool::net
