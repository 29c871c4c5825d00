// The tool's socket calls on Linux.
#include "common/net_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace razivu_tool::net {
namespace {

using Clock = std::chrono::steady_clock;

// Process-wide: what error_text() and would_block() report.
struct Failure {
    int error = 0;  // errno of the latest failed call
};
Failure failure;

int32_t failed() {
    failure.error = errno;
    return -1;
}

std::string failed(const char *step, const std::string &where) {
    failure.error = errno;
    return std::string(step) + " " + where + ": " + std::strerror(errno);
}

}  // namespace

int32_t wait_readable(std::span<const int32_t> sockets, int32_t timeout_ms) {
    std::vector<pollfd> fds;
    for (const int32_t s : sockets) {
        fds.push_back(pollfd{s, POLLIN, 0});
    }
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int wait = timeout_ms;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int rc = ::poll(fds.data(), fds.size(), wait);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0) {
            return failed();
        }
        for (std::size_t i = 0; i < fds.size() && rc > 0; ++i) {
            if ((fds[i].revents & POLLNVAL) != 0) {
                errno = EBADF;
                return failed();
            }
            if (fds[i].revents != 0) {
                return static_cast<int32_t>(i);
            }
        }
        return none_ready;
    }
}

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
    for (;;) {
        const ssize_t n = ::recv(s, buf, static_cast<std::size_t>(cap), 0);
        if (n >= 0) {
            return static_cast<int32_t>(n);
        }
        if (errno != EINTR) {
            return failed();
        }
    }
}

int32_t send_some(int32_t s, const char *data, int32_t len) {
    for (;;) {
        const ssize_t n = ::send(s, data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<int32_t>(n);
        }
        if (errno != EINTR) {
            return failed();
        }
    }
}

bool would_block() {
    return failure.error == EAGAIN || failure.error == EWOULDBLOCK;
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

int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = port;
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sin.sin_addr, host, sizeof host);
    const std::string where = std::string(host) + ":" + std::to_string(ntohs(port));
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        why = failed("socket for", where);
        return -1;
    }
    const int on = 1;
    const char *step = "reuse address of";
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        (step = "bind", ::bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        return s;
    }
    why = failed(step, where);
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

std::string error_text() {
    return error_text(failure.error);
}

std::string error_text(int code) {
    return std::strerror(code);
}

}  // namespace razivu_tool::net
