// The tool's socket calls on Windows: select, recv and shutdown of WinSock.
#include "client/net_io.h"

#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <chrono>

namespace razivu_tool::net {
namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD message_cap = 256;

// Process-wide: what error_text() reports.
struct Failure {
    int error = 0;  // WSAGetLastError of the latest failed call
};
Failure failure;

int32_t failed() {
    failure.error = WSAGetLastError();
    return -1;
}

}  // namespace

int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        for (const int32_t s : sockets) {
            FD_SET(static_cast<SOCKET>(s), &ready);
        }
        timeval limit{};
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            const long ms = static_cast<long>(std::max<long long>(0, left.count()));
            limit = timeval{ms / 1000, (ms % 1000) * 1000};
        }
        const int rc = select(0, &ready, nullptr, nullptr, timeout_ms >= 0 ? &limit : nullptr);
        if (rc == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) {
            continue;
        }
        if (rc == SOCKET_ERROR) {
            return failed();
        }
        for (std::size_t i = 0; i < sockets.size() && rc > 0; ++i) {
            if (FD_ISSET(static_cast<SOCKET>(sockets[i]), &ready)) {
                return static_cast<int32_t>(i);
            }
        }
        return none_ready;
    }
}

int32_t receive_some(int32_t s, char *buf, int32_t cap) {
    for (;;) {
        const int n = recv(static_cast<SOCKET>(s), buf, cap, 0);
        if (n != SOCKET_ERROR) {
            return n;
        }
        if (WSAGetLastError() != WSAEINTR) {
            return failed();
        }
    }
}

void shutdown_send(int32_t s) {
    shutdown(static_cast<SOCKET>(s), SD_SEND);
}

std::string error_text() {
    char text[message_cap] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(failure.error), 0, text, message_cap, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "WinSock error " + std::to_string(failure.error) : out;
}

}  // namespace razivu_tool::net
