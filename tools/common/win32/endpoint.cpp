// Addresses of either family on Windows, through WinSock's resolver.
#include "common/endpoint.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>

#include "common/net_io.h"

namespace razivu_tool::net {
namespace {

const sockaddr *as_address(const Endpoint &e) {
    return reinterpret_cast<const sockaddr *>(e.bytes);
}

// Sockets of the tool are not inherited by processes it starts (net_io.cpp).
SOCKET new_socket(int family) {
    const SOCKET s = ::socket(family, SOCK_STREAM, 0);
    if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

}  // namespace

bool resolve(const char *host, const char *service, bool passive, std::vector<Endpoint> &out,
             std::string &why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host, service, &hints, &found);
    if (rc != 0) {
        why = rc == EAI_SERVICE ? "service not found"
              : rc == EAI_NONAME || rc == WSANO_DATA ? "host not found"
                                                      : error_text(rc);
        return false;
    }
    const bool any = take_addresses(found, out);
    ::freeaddrinfo(found);
    why = any ? "" : "host not found";
    return any;
}

std::string endpoint_text(const Endpoint &e) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    ::getnameinfo(as_address(e), static_cast<int>(e.len), host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    const bool v6 = as_address(e)->sa_family == AF_INET6;
    std::string out = v6 ? "[" : "";
    out += host;
    out += v6 ? "]:" : ":";
    return out + port;
}

bool local_endpoint(int32_t s, Endpoint &out) {
    int len = static_cast<int>(endpoint_cap);
    if (::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr *>(out.bytes), &len) != 0 ||
        len > static_cast<int>(endpoint_cap)) {
        return false;
    }
    out.len = static_cast<uint32_t>(len);
    return true;
}

int32_t connect_start(const Endpoint &e, std::string &why) {
    const SOCKET s = new_socket(as_address(e)->sa_family);
    if (s == INVALID_SOCKET) {
        why = error_text(WSAGetLastError());
        return -1;
    }
    set_blocking(static_cast<int32_t>(s), false);
    if (::connect(s, as_address(e), static_cast<int>(e.len)) == 0 ||
        WSAGetLastError() == WSAEWOULDBLOCK) {
        return static_cast<int32_t>(s);
    }
    why = error_text(WSAGetLastError());
    ::closesocket(s);
    return -1;
}

int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why) {
    const SOCKET s = new_socket(as_address(e)->sa_family);
    const char on = 1;
    const char *step = "socket for";
    if (s != INVALID_SOCKET &&
        (step = "reuse address of", ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
        (step = "bind", ::bind(s, as_address(e), static_cast<int>(e.len)) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        set_blocking(static_cast<int32_t>(s), false);
        return static_cast<int32_t>(s);
    }
    const int error = WSAGetLastError();
    why = std::string(step) + " " + endpoint_text(e) + ": " + error_text(error);
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
    }
    return -1;
}

}  // namespace razivu_tool::net
