// Helpers of the transport tests and the loopback benchmark: raw peers on
// 127.0.0.1 over BSD sockets or WinSock, and a guard that puts the system
// calls back.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define MSG_NOSIGNAL 0  // WinSock raises no signal
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <razivu/razivu.h>

#include "platform/platform.h"
#include "tests/support/pushes.h"
#include "tests/support/test_env.h"

namespace razivu::test {

// No services database has this name; tests reach their ports through the default port.
constexpr const char *unknown_service = "razivu-test-no-such-service";

// close() of a socket, and whether fd is one that is open.
#ifdef _WIN32
inline void close_socket(int fd) { ::closesocket(static_cast<SOCKET>(fd)); }
inline bool is_open(int fd) {
    int type = 0;
    int len = sizeof type;
    return ::getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char *>(&type), &len) == 0;
}
#else
inline void close_socket(int fd) { ::close(fd); }
inline bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }
#endif

struct NetCallsGuard {
    ~NetCallsGuard() { platform::reset_net_calls(); }
};

// A stand-in for a system call that fails with errno e.
template <int e, typename... Args>
int32_t fails_with(Args...) {
    errno = e;
    return -1;
}

inline sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

// A listening socket on 127.0.0.1 with a port the system chose (host order).
struct RawListener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port = 0;

    RawListener() {
        sockaddr_in sin = loopback_address(0);
        socklen_t len = sizeof sin;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) == 0 && ::listen(fd, 16) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len) == 0) {
            port = ntohs(sin.sin_port);
        }
    }
    RawListener(const RawListener &) = delete;
    ~RawListener() { close_socket(fd); }
    int accept_one() const { return ::accept(fd, nullptr, nullptr); }
};

// A port that was free a moment ago (the library binds its listening port itself).
inline uint16_t free_port() {
    return RawListener().port;
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
        close_socket(fd);
        return -1;
    }
    return fd;
}

inline bool raw_send(int fd, const std::string &bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// True when fd has bytes (or an end) to read within ms.
inline bool readable_within(int fd, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval limit{ms / 1000, ms % 1000 * 1000};
    return ::select(fd + 1, &readable, nullptr, nullptr, &limit) > 0;
}

// Reads until n bytes are in or the peer closes.
inline std::string raw_recv(int fd, std::size_t n) {
    std::string out(n, '\0');
    std::size_t got = 0;
    for (ssize_t r; got < n && (r = ::recv(fd, out.data() + got, n - got, 0)) > 0;) {
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
}

// A connected pair: the library's client socket and the raw server end.
struct Connection {
    RawListener listener;
    int32_t client = -1;
    int server = -1;

    Connection() {
        use_test_port(listener.port);
        client = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
        server = listener.accept_one();
        pop_all();  // the warning of the unknown service
    }
    Connection(const Connection &) = delete;
    ~Connection() {
        hang_up();
        if (client >= 0) {
            COMCloseSock(client);  // also releases a handle the transport closed
        }
        pop_all();
    }
    void hang_up() { close_socket(std::exchange(server, -1)); }
};

}  // namespace razivu::test
