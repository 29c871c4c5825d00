// The server's connections on Linux: addresses, looks, waits, the deadline
// and standard error.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/posix/serve_internal.h"
#include "platform/serving.h"

namespace razivu::platform::net {
namespace {

constexpr int ms_per_second = 1000;
constexpr int us_per_ms = 1000;
// How long a line that standard error took in part may wait for the rest.
constexpr int line_rest_ms = 100;
// Descriptors the listening process asks for, at most.
constexpr rlim_t socket_room_cap = 16384;

// The deadline of the current call; shared with the SIGALRM handler.
struct Watchdog {
    volatile std::sig_atomic_t conn = -1;   // the connection it cuts
    volatile std::sig_atomic_t fired = 0;   // the deadline passed
    bool installed = false;                 // the handler is in place
};
Watchdog watchdog;

// The descriptor limit as it was before socket_room() raised it.
struct Room {
    rlimit before{};
    bool raised = false;
};
Room room;

// SA_RESTART lets the interrupted read or send go on, and it then finds the
// connection cut.
void on_alarm(int) {
    if (watchdog.conn >= 0) {
        cut(watchdog.conn);
    }
    watchdog.fired = 1;
}

void set_timer(int32_t ms) {
    itimerval t{};
    t.it_value.tv_sec = ms / ms_per_second;
    t.it_value.tv_usec = (ms % ms_per_second) * us_per_ms;
    ::setitimer(ITIMER_REAL, &t, nullptr);
}

// One try at writing out the rest of a line: bytes taken, or -1. A socket
// (the journal's) takes MSG_DONTWAIT, which leaves the descriptor's flags,
// shared with other processes, alone; anything else is written only after
// poll has found room for it.
ssize_t write_some(const char *data, std::size_t len, int wait_ms) {
    pollfd p{STDERR_FILENO, POLLOUT, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, wait_ms);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0 || (p.revents & POLLOUT) == 0) {
            return -1;
        }
        ssize_t n = ::send(STDERR_FILENO, data, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) {
            n = ::write(STDERR_FILENO, data, len);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n;
    }
}

}  // namespace

Peer address_of(int32_t s, Side side) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    auto *sa = reinterpret_cast<sockaddr *>(&ss);
    if ((side == Side::peer ? ::getpeername(s, sa, &len) : ::getsockname(s, sa, &len)) != 0) {
        return Peer{"unknown", 0, "unknown"};
    }
    char host[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto *sin = reinterpret_cast<const sockaddr_in *>(&ss);
        ::inet_ntop(AF_INET, &sin->sin_addr, host, sizeof host);
        return Peer{host, ntohs(sin->sin_port), host};
    }
    if (ss.ss_family == AF_INET6) {
        const auto *sin6 = reinterpret_cast<const sockaddr_in6 *>(&ss);
        const std::string key = address_key(sin6->sin6_addr.s6_addr);
        // A mapped IPv4 client is shown as that IPv4 address.
        if (IN6_IS_ADDR_V4MAPPED(&sin6->sin6_addr)) {
            return Peer{key, ntohs(sin6->sin6_port), key};
        }
        ::inet_ntop(AF_INET6, &sin6->sin6_addr, host, sizeof host);
        return Peer{host, ntohs(sin6->sin6_port), key};
    }
    return Peer{"local", 0, "local"};
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

void cut(int32_t conn) {
    ::shutdown(conn, SHUT_RDWR);
}

void arm_deadline(int32_t conn, int32_t ms) {
    if (!watchdog.installed) {
        serving::set_handler(SIGALRM, on_alarm);
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

std::size_t socket_room() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    const rlim_t wanted = std::min(limit.rlim_max, socket_room_cap);
    if (limit.rlim_cur < wanted) {
        if (!room.raised) {
            room.before = limit;
            room.raised = true;
        }
        limit.rlim_cur = wanted;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

bool write_line(const std::string &line) {
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = write_some(line.data() + done, line.size() - done, done == 0 ? 0 : line_rest_ms);
        if (n <= 0) {
            return done > 0;  // a line begun counts as written; its end is lost
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace razivu::platform::net

namespace razivu::platform::serving {

void end_deadline() {
    net::disarm_deadline();
    net::watchdog.installed = false;
    net::watchdog.conn = -1;
    net::watchdog.fired = 0;
}

void restore_socket_room() {
    if (net::room.raised) {
        ::setrlimit(RLIMIT_NOFILE, &net::room.before);
        net::room.raised = false;
    }
}

}  // namespace razivu::platform::serving
