// Addresses of either family, IPv4 and IPv6, as the system's resolver gives
// them, for the connections and listening sockets of `razivu call` and
// `razivu proxy`. posix/endpoint.cpp and win32/endpoint.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace razivu_tool::net {

// Room for a socket address of any family the system has.
constexpr std::size_t endpoint_cap = 128;

struct Endpoint {
    unsigned char bytes[endpoint_cap] = {};  // the system's socket address
    uint32_t len = 0;                        // bytes of it in use
};

// The addresses of host and service, in the resolver's order (which puts the
// ones most likely to answer first). host is a name, an IPv4 or an IPv6
// address (without brackets); service is a port number or a name of the
// services database. passive asks for addresses to listen on, and then a
// null host means every address of both families. False with why ("host not
// found", "service not found", or the resolver's text) when there is none.
bool resolve(const char *host, const char *service, bool passive, std::vector<Endpoint> &out,
             std::string &why);

// The addresses of a resolver's list (the addrinfo of either system) that
// fit an Endpoint, in its order, into out; false when none does.
template <typename AddrInfo>
bool take_addresses(const AddrInfo *list, std::vector<Endpoint> &out) {
    out.clear();
    for (const AddrInfo *a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen <= endpoint_cap) {
            Endpoint e;
            std::memcpy(e.bytes, a->ai_addr, a->ai_addrlen);
            e.len = static_cast<uint32_t>(a->ai_addrlen);
            out.push_back(e);
        }
    }
    return !out.empty();
}

// "127.0.0.1:7000", "[::1]:7000".
std::string endpoint_text(const Endpoint &e);

// The address socket s is bound to (the port the system chose for port 0).
bool local_endpoint(int32_t s, Endpoint &out);

// Begins a connection to e without waiting: the socket, which becomes
// writable once the connect has ended (connect_finished of net_io.h then
// tells how), or -1 with why.
int32_t connect_start(const Endpoint &e, std::string &why);

// A listening socket on e with address reuse on; accept_now never waits on
// it. Whether one on the IPv6 address :: takes IPv4 clients too is the
// system's choice (Linux: yes, by default; Windows: no). -1 with why naming the step and the system's reason.
int32_t listen_on(const Endpoint &e, int32_t backlog, std::string &why);

}  // namespace razivu_tool::net
