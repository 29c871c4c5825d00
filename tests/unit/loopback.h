// Helpers of the transport tests: raw peers on 127.0.0.1, child processes
// that run the library on their own (its state is per process), the error
// stack read back in push order, and a guard that puts the system calls back.
// Header-only; each test program includes what it uses.
#pragma once

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <razivu/razivu.h>

#include "platform/platform.h"

namespace razivu::test {

// A service name that no services database has; tests reach their ports
// through the default port instead.
constexpr const char *unknown_service = "razivu-test-no-such-service";
// Seconds a test waits for a child process before it kills it.
constexpr int child_deadline_seconds = 60;

// Puts the system calls back when a test that replaced some ends.
struct NetCallsGuard {
    NetCallsGuard() = default;
    NetCallsGuard(const NetCallsGuard &) = delete;
    NetCallsGuard &operator=(const NetCallsGuard &) = delete;
    ~NetCallsGuard() { platform::reset_net_calls(); }
};

inline sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

// A listening socket on 127.0.0.1 with a port the system chose.
struct RawListener {
    int fd = -1;
    uint16_t port = 0;  // host byte order

    RawListener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin = loopback_address(0);
        socklen_t len = sizeof sin;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0 ||
            ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len) != 0) {
            ::close(fd);
            fd = -1;
        }
        port = ntohs(sin.sin_port);
    }
    RawListener(const RawListener &) = delete;
    RawListener &operator=(const RawListener &) = delete;
    ~RawListener() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int accept_one() const { return ::accept(fd, nullptr, nullptr); }
};

// A port that was free a moment ago (the library's listening socket binds
// its port itself, so the tests cannot hand it a bound socket).
inline uint16_t free_port() {
    RawListener probe;
    return probe.port;
}

// Makes the library use port (host byte order) for a service it cannot find.
inline void use_test_port(uint16_t port) {
    COMSetServiceName(unknown_service);
    COMSetDefaultPort(static_cast<int16_t>(htons(port)));
}

inline int raw_connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in sin = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool raw_send(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until n bytes are in or the peer closes.
inline std::string raw_recv(int fd, std::size_t n) {
    std::string out(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, out.data() + got, n - got, 0);
        if (r <= 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
}

// Whether descriptor fd is open in this process.
inline bool fd_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

struct Record {
    int32_t kind;
    int32_t code;
    std::string text;
};

// Empties the error stack; returns its records oldest first, in push order.
inline std::vector<Record> pop_all() {
    std::vector<Record> out;
    ErrorRecord rec{};
    while (COMPopError(&rec) != 0) {
        out.insert(out.begin(), Record{rec.kind, rec.code, rec.text});
    }
    return out;
}

// "kind:code function" for each record in push order, e.g. "1 COMReadSock"
// for a system error and "11 COMReadSock" for code 11: compact to compare.
inline std::vector<std::string> pushes() {
    std::vector<std::string> out;
    for (const Record &r : pop_all()) {
        const std::size_t at = r.text.find("function ") + 9;
        const std::string function = r.text.substr(at, r.text.find(':', at) - at);
        out.push_back((r.kind == RAZIVU_KIND_SYSTEM ? std::string("sys") : std::to_string(r.code)) +
                      " " + function);
    }
    return out;
}

// Runs fn in a child process, whose exit status is fn's result.
inline pid_t run_child(const std::function<int()> &fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(fn());
    }
    return pid;
}

// The child's exit status; -1 when it had to be killed after the deadline or
// did not exit normally.
inline int wait_child(pid_t pid, int seconds = child_deadline_seconds) {
    const std::time_t give_up = std::time(nullptr) + seconds;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::time(nullptr) > give_up) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(2000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace razivu::test
