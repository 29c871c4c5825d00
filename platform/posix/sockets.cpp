// The plain socket calls on Linux.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "platform/sockets.h"

namespace razivu::platform::net {
namespace {

// Process-wide: what error_text() and would_block() report.
struct Failure {
    int error = 0;  // errno of the latest failed call
};
Failure failure;

int32_t failed() {
    failure.error = errno;
    return -1;
}

std::string failed(const char *step, const Endpoint &e) {
    failed();
    return std::string(step) + " " + endpoint_text(e) + ": " + std::strerror(failure.error);
}

// A count of bytes, the call made again while a signal interrupts it.
template <typename Call>
int32_t retried(Call call) {
    for (;;) {
        const ssize_t n = call();
        if (n >= 0) {
            return static_cast<int32_t>(n);
        }
        if (errno != EINTR) {
            return failed();
        }
    }
}

const sockaddr *as_address(const Endpoint &e) {
    return reinterpret_cast<const sockaddr *>(e.bytes);
}

int new_socket(const Endpoint &e) {
    return ::socket(as_address(e)->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

}  // namespace

int32_t wait_any(std::span<Watch> watched, int32_t timeout_ms) {
    std::vector<pollfd> fds;
    fds.reserve(watched.size());
    for (const Watch &w : watched) {
        fds.push_back(pollfd{w.socket, static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0)), 0});
    }
    const int rc = ::poll(fds.data(), fds.size(), timeout_ms);
    if (rc < 0) {
        return errno == EINTR ? 0 : failed();
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const bool broken = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        watched[i].readable = watched[i].read && ((fds[i].revents & POLLIN) != 0 || broken);
        watched[i].writable = watched[i].write && ((fds[i].revents & POLLOUT) != 0 || broken);
    }
    return rc;
}

int32_t receive_some(int32_t s, char *buf, int32_t cap) {
    return retried([&] { return ::recv(s, buf, static_cast<std::size_t>(cap), 0); });
}

int32_t send_some(int32_t s, const char *data, int32_t len) {
    return retried([&] { return ::send(s, data, static_cast<std::size_t>(len), MSG_NOSIGNAL); });
}

void shutdown_send(int32_t s) {
    ::shutdown(s, SHUT_WR);
}

void close_socket(int32_t s) {
    ::close(s);  // not retried: the descriptor is gone whatever it returns
}

void set_blocking(int32_t s, bool blocking) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags >= 0) {
        ::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
    }
}

bool would_block() {
    return failure.error == EAGAIN || failure.error == EWOULDBLOCK;
}

bool short_of_resources() {
    return failure.error == EMFILE || failure.error == ENFILE || failure.error == ENOBUFS ||
           failure.error == ENOMEM;
}

std::string error_text() {
    return error_text(failure.error);
}

std::string error_text(int code) {
    return std::strerror(code);
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
    char host[INET6_ADDRSTRLEN] = {};
    if (as_address(e)->sa_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(e.bytes);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        return host_port_text(host, ntohs(v6->sin6_port));
    }
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(e.bytes);
    ::inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    return host_port_text(host, ntohs(v4->sin_port));
}

bool local_endpoint(int32_t s, Endpoint &out) {
    socklen_t len = endpoint_cap;
    if (::getsockname(s, reinterpret_cast<sockaddr *>(out.bytes), &len) != 0 || len > endpoint_cap) {
        return false;
    }
    out.len = static_cast<uint32_t>(len);
    return true;
}

int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why) {
    const int s = new_socket(e);
    if (s < 0) {
        why = failed("socket for", e);
        return -1;
    }
    const int on = 1;
    const char *step = "reuse address of";
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        (step = "bind", ::bind(s, as_address(e), e.len) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        return s;
    }
    why = failed(step, e);
    ::close(s);
    return -1;
}

int32_t accept_now(int32_t listening) {
    for (;;) {
        const int s = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (s >= 0) {
            const int on = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return s;
        }
        if (errno != EINTR && errno != ECONNABORTED) {
            return failed();
        }
    }
}

int32_t connect_start(const Endpoint &e, std::string &why) {
    const int s = new_socket(e);
    if (s >= 0 && (::connect(s, as_address(e), e.len) == 0 || errno == EINPROGRESS)) {
        return s;
    }
    failed();
    why = error_text();
    if (s >= 0) {
        ::close(s);
    }
    return -1;
}

bool connect_finished(int32_t s) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        failed();
        return false;
    }
    failure.error = error;
    return error == 0;
}

}  // namespace razivu::platform::net
