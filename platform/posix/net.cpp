// Sockets on Linux: BSD sockets behind the WinSock-shaped call table.
//
// There is no session to start here; startup and cleanup only count, so
// that a cleanup without a start fails the way WSACleanup does.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

// Room for the names and aliases of one services-database entry.
constexpr std::size_t service_text_cap = 4096;

// WSANOTINITIALISED: what WSACleanup reports without a started session.
constexpr int32_t error_not_initialised = 10093;

// Process-wide session stand-in: the startups not yet matched by a cleanup.
std::atomic<int32_t> session_starts{0};
// What last_error() reports: per thread, as WSAGetLastError's is.
thread_local int32_t session_error = 0;

int32_t sys_startup() {
    ++session_starts;
    return 0;
}

int32_t sys_cleanup() {
    int32_t starts = session_starts.load();
    while (starts > 0 && !session_starts.compare_exchange_weak(starts, starts - 1)) {
    }
    if (starts == 0) {
        session_error = error_not_initialised;
        return -1;
    }
    return 0;
}

int32_t sys_last_error() {
    return session_error;
}

int32_t sys_unhook_blocking_hook() {
    return 0;
}

int32_t sys_host_name(char *buf, int32_t cap) {
    if (buf == nullptr || cap <= 0) {
        errno = EINVAL;
        return -1;
    }
    return ::gethostname(buf, static_cast<std::size_t>(cap));
}

// The entry lives in storage of the calling thread, as WinSock keeps it: the
// C library's getservbyname shares one buffer among all threads.
::servent *sys_service_by_name(const char *name, const char *protocol) {
    struct Found {
        ::servent entry;
        char text[service_text_cap];
    };
    thread_local Found found;
    ::servent *result = nullptr;
    if (name == nullptr ||
        ::getservbyname_r(name, protocol, &found.entry, found.text, sizeof found.text, &result) != 0) {
        return nullptr;
    }
    return result;
}

int32_t sys_host_address(const char *name, uint32_t *addr_out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (name == nullptr || ::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return -1;
    }
    int32_t rc = -1;
    if (found != nullptr && found->ai_addr != nullptr && found->ai_family == AF_INET) {
        sockaddr_in sin{};
        std::memcpy(&sin, found->ai_addr, sizeof sin);
        *addr_out = sin.sin_addr.s_addr;
        rc = 0;
    }
    ::freeaddrinfo(found);
    return rc;
}

sockaddr_in to_sockaddr(const Ipv4Endpoint *ep) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = ep->port;
    sin.sin_addr.s_addr = ep->addr;
    return sin;
}

int32_t sys_open_tcp() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

// A connect that a signal interrupts goes on in the background; it is
// awaited here rather than started again, which would fail with EALREADY.
int32_t sys_connect(int32_t s, const Ipv4Endpoint *to) {
    const sockaddr_in sin = to_sockaddr(to);
    if (::connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) == 0) {
        return 0;
    }
    if (errno != EINTR) {
        return -1;
    }
    pollfd pfd{s, POLLOUT, 0};
    int rc = 0;
    do {
        rc = ::poll(&pfd, 1, -1);
    } while (rc < 0 && errno == EINTR);
    int err = 0;
    socklen_t len = sizeof err;
    if (rc < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        return -1;
    }
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

int32_t sys_local_endpoint(int32_t s, Ipv4Endpoint *out) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (::getsockname(s, reinterpret_cast<sockaddr *>(&sin), &len) != 0) {
        return -1;
    }
    out->addr = sin.sin_addr.s_addr;
    out->port = sin.sin_port;
    return 0;
}

int32_t sys_set_option(int32_t s, SocketOption option, int32_t value) {
    const int v = value;
    switch (option) {
    case SocketOption::reuse_address:
        return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v);
    case SocketOption::no_delay:
        return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
    }
    errno = EINVAL;
    return -1;
}

int32_t sys_bind(int32_t s, const Ipv4Endpoint *at) {
    const sockaddr_in sin = to_sockaddr(at);
    return ::bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin);
}

int32_t sys_listen(int32_t s, int32_t backlog) {
    return ::listen(s, backlog);
}

int32_t sys_accept(int32_t s) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return ::accept(s, reinterpret_cast<sockaddr *>(&peer), &len);
}

int32_t sys_recv(int32_t s, char *buf, int32_t n, int32_t flags) {
    return static_cast<int32_t>(::recv(s, buf, static_cast<std::size_t>(n), flags));
}

int32_t sys_send(int32_t s, const char *buf, int32_t n, int32_t flags) {
    return static_cast<int32_t>(
        ::send(s, buf, static_cast<std::size_t>(n), flags | MSG_NOSIGNAL));
}

// poll rather than select: select cannot take descriptors of 1024 and above.
// A descriptor poll calls invalid is the failure select gives for it.
int32_t sys_wait_readable(int32_t s, int32_t seconds) {
    pollfd pfd{s, POLLIN, 0};
    const timespec limit{seconds, 0};
    const int rc = ::ppoll(&pfd, 1, &limit, nullptr);
    if (rc > 0 && (pfd.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return rc;
}

int32_t sys_close(int32_t s) {
    return ::close(s);
}

int32_t sys_identity(int32_t s, SocketIdentity *out) {
    struct stat st {};
    if (::fstat(s, &st) != 0) {
        return -1;
    }
    if (!S_ISSOCK(st.st_mode)) {
        errno = ENOTSOCK;
        return -1;
    }
    *out = SocketIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
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

int32_t more_flag() {
    return MSG_MORE;
}

// The C library knows every number here.
const char *socket_error_text(int) {
    return nullptr;
}

uint16_t service_port(const ::servent *entry) {
    return static_cast<uint16_t>(entry->s_port);
}

}  // namespace razivu::platform
