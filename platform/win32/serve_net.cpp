// The server's connections on Windows, through WinSock. The call
// deadline is a timer-queue timer whose callback cuts the connection, as
// SIGALRM does on Linux. WinSock keeps no count of what reached the client
// that a program could read, so there is none, and standard error is
// written as it comes.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/serving.h"
#include "platform/win32/serve_handoff.h"

namespace razivu::platform::net {
namespace {

// The deadline of the current call; shared with the timer's callback thread.
struct Deadline {
    HANDLE timer = nullptr;               // armed timer, or none
    std::atomic<SOCKET> conn{INVALID_SOCKET};  // the connection it shuts down
    std::atomic<bool> fired{false};       // the deadline passed
};
Deadline deadline;

using CancelIoExFn = BOOL(WINAPI *)(HANDLE, LPOVERLAPPED);

VOID CALLBACK on_deadline(PVOID, BOOLEAN) {
    deadline.fired = true;
    cut(static_cast<int32_t>(deadline.conn.load()));
}

std::string ipv4_text(const in_addr &a) {
    const auto *b = reinterpret_cast<const unsigned char *>(&a);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

}  // namespace

// A blocked receive or send returns once its socket is shut down under Wine;
// Windows may keep it waiting, so it is also cancelled where the system can
// (Vista on; looked up so that the program still starts on older systems).
void cut(int32_t conn) {
    const SOCKET s = static_cast<SOCKET>(conn);
    ::shutdown(s, SD_BOTH);
    static const auto cancel = reinterpret_cast<CancelIoExFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx")));
    if (cancel != nullptr) {
        cancel(reinterpret_cast<HANDLE>(s), nullptr);
    }
}

Peer address_of(int32_t s, Side side) {
    sockaddr_in sin{};
    int len = sizeof sin;
    auto *sa = reinterpret_cast<sockaddr *>(&sin);
    const SOCKET h = static_cast<SOCKET>(s);
    if ((side == Side::peer ? ::getpeername(h, sa, &len) : ::getsockname(h, sa, &len)) != 0 ||
        sin.sin_family != AF_INET) {
        return Peer{"unknown", 0, "unknown"};
    }
    const std::string addr = ipv4_text(sin.sin_addr);
    return Peer{addr, ntohs(sin.sin_port), addr};
}

// A reset or any other error ends the connection as surely as a close.
Ready peek(int32_t conn) {
    if (wait_readable({&conn, 1}, 0) != 0) {
        return Ready::none;
    }
    char byte = 0;
    return ::recv(static_cast<SOCKET>(conn), &byte, 1, MSG_PEEK) > 0 ? Ready::data : Ready::end;
}

void arm_deadline(int32_t conn, int32_t ms) {
    disarm_deadline();
    deadline.conn = static_cast<SOCKET>(conn);
    CreateTimerQueueTimer(&deadline.timer, nullptr, on_deadline, nullptr,
                          static_cast<DWORD>(ms > 0 ? ms : 1), 0, WT_EXECUTEONLYONCE);
}

// Waits for a callback under way, so that it never shuts a later connection.
void disarm_deadline() {
    if (deadline.timer != nullptr) {
        DeleteTimerQueueTimer(nullptr, deadline.timer, INVALID_HANDLE_VALUE);
        deadline.timer = nullptr;
    }
}

bool deadline_passed() {
    return deadline.fired;
}

void wait_delivered(int32_t, int32_t) {}

int64_t bytes_delivered(int32_t) {
    return -1;
}

// What select() takes: the waiting room of the listening process.
std::size_t socket_room() {
    return max_watched_sockets;
}

bool write_line(const std::string &line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return true;
}

}  // namespace razivu::platform::net

void razivu::platform::handoff::end_deadline() {
    net::disarm_deadline();
    net::deadline.fired = false;
}
