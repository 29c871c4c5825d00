// Sockets passed by systemd or inetd, on Linux.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/serving.h"

namespace razivu::platform::activation {
namespace {

// The first descriptor systemd passes (SD_LISTEN_FDS_START).
constexpr int first_passed_fd = 3;

// All of text as a decimal number from 0 to INT_MAX; false otherwise.
bool parse_count(const char *text, int64_t &out) {
    char *end = nullptr;
    errno = 0;
    const long long value = text != nullptr ? std::strtoll(text, &end, 10) : -1;
    if (text == nullptr || errno != 0 || end == text || *end != '\0' || value < 0 || value > INT_MAX) {
        return false;
    }
    out = value;
    return true;
}

Passed unusable(std::string why) {
    return Passed{Kind::unusable, -1, std::move(why)};
}

// A stream socket, listening or connected; anything else is refused.
Passed classify(int fd, const char *what) {
    int type = 0;
    int listening = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
        return unusable(std::string(what) + " is not a socket: " + std::strerror(errno));
    }
    len = sizeof listening;
    if (type != SOCK_STREAM ||
        ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) != 0) {
        return unusable(std::string(what) + " is not a stream socket");
    }
    return Passed{listening != 0 ? Kind::listening : Kind::connection, fd, {}};
}

bool same_file(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void to_null_device(int fd) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
}

}  // namespace

Passed from_systemd() {
    const char *pid_text = std::getenv("LISTEN_PID");
    const char *fds_text = std::getenv("LISTEN_FDS");
    int64_t pid = 0;
    if (pid_text == nullptr || fds_text == nullptr || !parse_count(pid_text, pid) ||
        pid != ::getpid()) {
        return Passed{};  // not for this process
    }
    int64_t n = 0;
    const bool counted = parse_count(fds_text, n);
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!counted || n != 1) {
        return unusable(std::string("LISTEN_FDS=") + fds_text + ": the server takes exactly one socket");
    }
    ::fcntl(first_passed_fd, F_SETFD, FD_CLOEXEC);
    return classify(first_passed_fd, "the socket passed by systemd");
}

Passed from_inetd() {
    Passed passed = classify(STDIN_FILENO, "standard input");
    if (passed.kind != Kind::unusable) {
        for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            if (same_file(fd, STDIN_FILENO)) {
                to_null_device(fd);
            }
        }
    }
    return passed;
}

}  // namespace razivu::platform::activation
