// The tool's socket calls on Linux: poll, recv and shutdown.
#include "client/net_io.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace razivu_tool::net {
namespace {

using Clock = std::chrono::steady_clock;

// Process-wide: what error_text() reports.
struct Failure {
    int error = 0;  // errno of the latest failed call
};
Failure failure;

int32_t failed() {
    failure.error = errno;
    return -1;
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

void shutdown_send(int32_t s) {
    ::shutdown(s, SHUT_WR);
}

std::string error_text() {
    return std::strerror(failure.error);
}

}  // namespace razivu_tool::net
