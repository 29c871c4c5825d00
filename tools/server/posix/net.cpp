// The socket work of `razivu serve` on Linux.
#include "server/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace razivu_tool::net {
namespace {

constexpr int ms_per_second = 1000;
constexpr int us_per_ms = 1000;

// The deadline of the current call; shared with the SIGALRM handler.
struct Watchdog {
    volatile std::sig_atomic_t conn = -1;   // the connection it shuts down
    volatile std::sig_atomic_t fired = 0;   // the deadline passed
    bool installed = false;                 // the handler is in place
};
Watchdog watchdog;

// shutdown is safe in a handler; SA_RESTART lets the interrupted read or
// send go on, and it then finds the connection shut.
void on_alarm(int) {
    if (watchdog.conn >= 0) {
        ::shutdown(watchdog.conn, SHUT_RDWR);
    }
    watchdog.fired = 1;
}

void set_timer(int32_t ms) {
    itimerval t{};
    t.it_value.tv_sec = ms / ms_per_second;
    t.it_value.tv_usec = (ms % ms_per_second) * us_per_ms;
    ::setitimer(ITIMER_REAL, &t, nullptr);
}

std::string failed(const char *step, const std::string &where) {
    return std::string(step) + " " + where + ": " + std::strerror(errno);
}

}  // namespace

int32_t listen_at(uint32_t addr, uint16_t port, int32_t backlog, std::string &why) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = port;
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sin.sin_addr, host, sizeof host);
    const std::string where = text(Peer{host, ntohs(port)});
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

Peer address_of(int32_t s, Side side) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    auto *sa = reinterpret_cast<sockaddr *>(&ss);
    if ((side == Side::peer ? ::getpeername(s, sa, &len) : ::getsockname(s, sa, &len)) != 0) {
        return Peer{"unknown", 0};
    }
    char host[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto *sin = reinterpret_cast<const sockaddr_in *>(&ss);
        ::inet_ntop(AF_INET, &sin->sin_addr, host, sizeof host);
        return Peer{host, ntohs(sin->sin_port)};
    }
    if (ss.ss_family == AF_INET6) {
        const auto *sin6 = reinterpret_cast<const sockaddr_in6 *>(&ss);
        // A mapped IPv4 client counts as that IPv4 address, however it came in.
        if (IN6_IS_ADDR_V4MAPPED(&sin6->sin6_addr)) {
            ::inet_ntop(AF_INET, &sin6->sin6_addr.s6_addr[12], host, sizeof host);
        } else {
            ::inet_ntop(AF_INET6, &sin6->sin6_addr, host, sizeof host);
        }
        return Peer{host, ntohs(sin6->sin6_port)};
    }
    return Peer{"local", 0};
}

Ready peek(int32_t conn) {
    for (;;) {
        char byte = 0;
        const ssize_t n = ::recv(conn, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            return Ready::data;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A reset or any other error ends the connection as surely as a close.
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Ready::none : Ready::end;
    }
}

Ready wait_for_data(int32_t conn, int32_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{conn, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count() > 0 ? left.count() : 0));
        if (rc > 0) {
            return peek(conn);
        }
        if (rc == 0) {
            return Ready::none;
        }
        if (errno != EINTR) {
            return Ready::end;
        }
    }
}

void arm_deadline(int32_t conn, int32_t ms) {
    if (!watchdog.installed) {
        struct sigaction sa {};
        sa.sa_handler = on_alarm;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGALRM, &sa, nullptr);
        watchdog.installed = true;
    }
    watchdog.conn = conn;
    set_timer(ms > 0 ? ms : 1);
}

void disarm_deadline() {
    set_timer(0);
}

bool deadline_passed() {
    return watchdog.fired != 0;
}

void write_line(const std::string &line) {
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nowhere to report it
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace razivu_tool::net
