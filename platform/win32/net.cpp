// Sockets on Windows: WinSock 1.1 behind the call table.
//
// WinSock reports failures through WSAGetLastError, not errno; every failing
// call copies its error onto errno so that the library's system-error pushes
// describe it.
#include <winsock2.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

// The WinSock version the library asks for: 1.1.
constexpr WORD winsock_version = 0x0101;

struct ErrorMap {
    int wsa;
    int err;
    const char *text;  // the text Linux gives err, where the C library has none
};

// WinSock errors that have a C library counterpart; the rest read as EIO.
// The C library here has texts for the classic numbers only, not for the
// socket numbers that mingw-w64 adds.
constexpr ErrorMap error_map[] = {
    {WSAEINTR, EINTR, nullptr},
    {WSAEBADF, EBADF, nullptr},
    {WSAEACCES, EACCES, nullptr},
    {WSAEFAULT, EFAULT, nullptr},
    {WSAEINVAL, EINVAL, nullptr},
    {WSAEMFILE, EMFILE, nullptr},
    {WSAENAMETOOLONG, ENAMETOOLONG, nullptr},
    {WSAENOTSOCK, EBADF, nullptr},
    {WSAEWOULDBLOCK, EAGAIN, nullptr},
    {WSAEADDRINUSE, EADDRINUSE, "Address already in use"},
    {WSAECONNREFUSED, ECONNREFUSED, "Connection refused"},
    {WSAECONNRESET, ECONNRESET, "Connection reset by peer"},
    {WSAECONNABORTED, ECONNABORTED, "Software caused connection abort"},
    {WSAETIMEDOUT, ETIMEDOUT, "Connection timed out"},
    {WSAENOTCONN, ENOTCONN, "Transport endpoint is not connected"},
    {WSAEHOSTUNREACH, EHOSTUNREACH, "No route to host"},
    {WSAENETUNREACH, ENETUNREACH, "Network is unreachable"},
};

// Returns rc after copying the WinSock error onto errno when rc is -1.
int32_t with_errno(int32_t rc) {
    if (rc == -1) {
        const int wsa = WSAGetLastError();
        errno = EIO;
        for (const auto &row : error_map) {
            if (row.wsa == wsa) {
                errno = row.err;
            }
        }
    }
    return rc;
}

SOCKET as_socket(int32_t s) {
    return static_cast<SOCKET>(static_cast<uint32_t>(s));
}

int32_t as_handle(SOCKET s) {
    return s == INVALID_SOCKET ? invalid_socket : static_cast<int32_t>(s);
}

sockaddr_in to_sockaddr(const Ipv4Endpoint *ep) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = ep->port;
    sin.sin_addr.s_addr = ep->addr;
    return sin;
}

int32_t sys_startup() {
    WSADATA data;
    return WSAStartup(winsock_version, &data);
}

int32_t sys_cleanup() {
    return WSACleanup() == 0 ? 0 : -1;
}

int32_t sys_last_error() {
    return WSAGetLastError();
}

int32_t sys_unhook_blocking_hook() {
    return WSAUnhookBlockingHook() == 0 ? 0 : -1;
}

int32_t sys_host_name(char *buf, int32_t cap) {
    return with_errno(gethostname(buf, cap) == 0 ? 0 : -1);
}

::servent *sys_service_by_name(const char *name, const char *protocol) {
    return name != nullptr ? getservbyname(name, protocol) : nullptr;
}

int32_t sys_host_address(const char *name, uint32_t *addr_out) {
    const hostent *h = name != nullptr ? gethostbyname(name) : nullptr;
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 ||
        h->h_addr_list[0] == nullptr) {
        return -1;
    }
    std::memcpy(addr_out, h->h_addr_list[0], sizeof *addr_out);
    return 0;
}

int32_t sys_open_tcp() {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return with_errno(as_handle(s));
}

int32_t sys_connect(int32_t s, const Ipv4Endpoint *to) {
    const sockaddr_in sin = to_sockaddr(to);
    return with_errno(connect(as_socket(s), reinterpret_cast<const sockaddr *>(&sin),
                              sizeof sin) == 0 ? 0 : -1);
}

int32_t sys_local_endpoint(int32_t s, Ipv4Endpoint *out) {
    sockaddr_in sin{};
    int len = sizeof sin;
    if (getsockname(as_socket(s), reinterpret_cast<sockaddr *>(&sin), &len) != 0) {
        return with_errno(-1);
    }
    out->addr = sin.sin_addr.s_addr;
    out->port = sin.sin_port;
    return 0;
}

int32_t sys_set_option(int32_t s, SocketOption option, int32_t value) {
    const int v = value;
    const char *p = reinterpret_cast<const char *>(&v);
    int rc = 0;
    switch (option) {
    case SocketOption::reuse_address:
        rc = setsockopt(as_socket(s), SOL_SOCKET, SO_REUSEADDR, p, sizeof v);
        break;
    case SocketOption::no_delay:
        rc = setsockopt(as_socket(s), IPPROTO_TCP, TCP_NODELAY, p, sizeof v);
        break;
    }
    return with_errno(rc == 0 ? 0 : -1);
}

int32_t sys_bind(int32_t s, const Ipv4Endpoint *at) {
    const sockaddr_in sin = to_sockaddr(at);
    return with_errno(bind(as_socket(s), reinterpret_cast<const sockaddr *>(&sin),
                           sizeof sin) == 0 ? 0 : -1);
}

int32_t sys_listen(int32_t s, int32_t backlog) {
    return with_errno(listen(as_socket(s), backlog) == 0 ? 0 : -1);
}

int32_t sys_accept(int32_t s) {
    sockaddr_in peer{};
    int len = sizeof peer;
    return with_errno(as_handle(accept(as_socket(s), reinterpret_cast<sockaddr *>(&peer), &len)));
}

int32_t sys_recv(int32_t s, char *buf, int32_t n, int32_t flags) {
    const int rc = recv(as_socket(s), buf, n, flags);
    return with_errno(rc == SOCKET_ERROR ? -1 : rc);
}

int32_t sys_send(int32_t s, const char *buf, int32_t n, int32_t flags) {
    const int rc = send(as_socket(s), buf, n, flags);
    return with_errno(rc == SOCKET_ERROR ? -1 : rc);
}

// Windows ignores the first argument of select and leaves the time-out as it
// was; both are set anyway for the sake of the reader.
int32_t sys_wait_readable(int32_t s, int32_t seconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(as_socket(s), &readable);
    timeval limit{seconds, 0};
    const int rc = select(s + 1, &readable, nullptr, nullptr, &limit);
    return with_errno(rc == SOCKET_ERROR ? -1 : rc);
}

int32_t sys_close(int32_t s) {
    return with_errno(closesocket(as_socket(s)) == 0 ? 0 : -1);
}

uint64_t endpoint_key(const sockaddr_in &sin) {
    return (uint64_t{sin.sin_addr.s_addr} << 16) | sin.sin_port;
}

// A handle has no identity of its own here; the connection's two endpoints
// stand in (a listening or unconnected socket has only the local one).
int32_t sys_identity(int32_t s, SocketIdentity *out) {
    sockaddr_in local{};
    sockaddr_in peer{};
    int len = sizeof local;
    if (getsockname(as_socket(s), reinterpret_cast<sockaddr *>(&local), &len) != 0) {
        const int wsa = WSAGetLastError();
        if (wsa == WSAENOTSOCK) {
            errno = EBADF;  // no socket has this handle
            return -1;
        }
        // WSAEINVAL: open but not yet bound
    }
    len = sizeof peer;
    getpeername(as_socket(s), reinterpret_cast<sockaddr *>(&peer), &len);
    *out = SocketIdentity{endpoint_key(local), endpoint_key(peer)};
    return 0;
}

constexpr NetCalls system_calls{
    sys_startup,     sys_cleanup,        sys_last_error, sys_unhook_blocking_hook,
    sys_host_name,   sys_service_by_name, sys_host_address, sys_open_tcp,
    sys_connect,     sys_local_endpoint, sys_set_option, sys_bind,
    sys_listen,      sys_accept,         sys_recv,       sys_send,
    sys_wait_readable, sys_close,        sys_identity,
};
}  // namespace

const NetCalls &system_net_calls() {
    return system_calls;
}

// WinSock has no such flag: pieces leave as they come.
int32_t more_flag() {
    return 0;
}

const char *socket_error_text(int err) {
    for (const auto &row : error_map) {
        if (row.err == err && row.text != nullptr) {
            return row.text;
        }
    }
    return nullptr;
}

uint16_t service_port(const ::servent *entry) {
    return static_cast<uint16_t>(entry->s_port);
}

}  // namespace razivu::platform
