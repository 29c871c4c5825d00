// The socket work of `razivu serve` on Windows, through WinSock. Without
// worker processes there is no watchdog and no per-connection counting.
#include "../net.h"

#include <winsock2.h>

#include <cstdio>

#include <razivu/razivu.h>

namespace razivu_tool::net {
namespace {

constexpr int32_t ms_per_second = 1000;

std::string ipv4_text(const in_addr &a) {
    const auto *b = reinterpret_cast<const unsigned char *>(&a);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

}  // namespace

int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = port;
    const std::string where = text(Peer{ipv4_text(sin.sin_addr), ntohs(port)});
    if (PTWSAStartup() != 0) {
        why = "WinSock cannot be started";
        return -1;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    const char on = 1;
    const char *step = "socket for";
    if (s != INVALID_SOCKET &&
        (step = "reuse address of", ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
        (step = "bind", ::bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        return static_cast<int32_t>(s);
    }
    why = std::string(step) + " " + where + ": WinSock error " + std::to_string(WSAGetLastError());
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
    }
    return -1;
}

Peer address_of(int32_t s, Side side) {
    sockaddr_in sin{};
    int len = sizeof sin;
    auto *sa = reinterpret_cast<sockaddr *>(&sin);
    const SOCKET h = static_cast<SOCKET>(s);
    if ((side == Side::peer ? ::getpeername(h, sa, &len) : ::getsockname(h, sa, &len)) != 0 ||
        sin.sin_family != AF_INET) {
        return Peer{"unknown", 0};
    }
    return Peer{ipv4_text(sin.sin_addr), ntohs(sin.sin_port)};
}

Ready peek(int32_t conn) {
    if (COMPollSock(conn, 0) != RAZIVU_POLL_READABLE) {
        return Ready::none;
    }
    char byte = 0;
    return ::recv(static_cast<SOCKET>(conn), &byte, 1, MSG_PEEK) > 0 ? Ready::data : Ready::end;
}

// COMPollSock counts whole seconds; a wait is rounded up to them.
Ready wait_for_data(int32_t conn, int32_t ms) {
    const int32_t seconds = (ms + ms_per_second - 1) / ms_per_second;
    return COMPollSock(conn, seconds) == RAZIVU_POLL_READABLE ? peek(conn) : Ready::none;
}

void arm_deadline(int32_t, int32_t) {}

void disarm_deadline() {}

bool deadline_passed() {
    return false;
}

Counts counts(int32_t) {
    return Counts{};
}

void write_line(const std::string &line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace razivu_tool::net
