// Addresses of either family on Linux.
#include "common/endpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace razivu_tool::net {
namespace {

const sockaddr *as_address(const Endpoint &e) {
    return reinterpret_cast<const sockaddr *>(e.bytes);
}

std::string reason(const char *step, const Endpoint &e) {
    const int error = errno;
    return std::string(step) + " " + endpoint_text(e) + ": " + std::strerror(error);
}

}  // namespace

bool resolve(const char *host, const char *service, bool passive, std::vector<Endpoint> &out,
             std::string &why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host, service, &hints, &found);
    if (rc != 0) {
        why = rc == EAI_SERVICE ? "service not found"
              : rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAMILY ? "host not found"
              : rc == EAI_SYSTEM ? std::strerror(errno)
                                 : ::gai_strerror(rc);
        return false;
    }
    const bool any = take_addresses(found, out);
    ::freeaddrinfo(found);
    why = any ? "" : "host not found";
    return any;
}

std::string endpoint_text(const Endpoint &e) {
    char host[INET6_ADDRSTRLEN] = {};
    const auto *sa = as_address(e);
    if (sa->sa_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(e.bytes);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(e.bytes);
    ::inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(v4->sin_port));
}

bool local_endpoint(int32_t s, Endpoint &out) {
    socklen_t len = endpoint_cap;
    if (::getsockname(s, reinterpret_cast<sockaddr *>(out.bytes), &len) != 0 || len > endpoint_cap) {
        return false;
    }
    out.len = static_cast<uint32_t>(len);
    return true;
}

int32_t connect_start(const Endpoint &e, std::string &why) {
    const int s = ::socket(as_address(e)->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::connect(s, as_address(e), e.len) == 0 || errno == EINPROGRESS) {
        return s;
    }
    why = std::strerror(errno);
    ::close(s);
    return -1;
}

int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why) {
    const int s = ::socket(as_address(e)->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        why = reason("socket for", e);
        return -1;
    }
    const int on = 1;
    const char *step = "reuse address of";
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        (step = "bind", ::bind(s, as_address(e), e.len) == 0) &&
        (step = "listen on", ::listen(s, backlog) == 0)) {
        return s;
    }
    why = reason(step, e);
    ::close(s);
    return -1;
}

}  // namespace razivu_tool::net
