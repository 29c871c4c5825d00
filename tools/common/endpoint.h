// Addresses of either family, IPv4 and IPv6, as the system's resolver gives
// them, for the connections and listening sockets of `razivu call` and
// `razivu proxy` (net_io.h). posix/endpoint.cpp and win32/endpoint.cpp.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "common/net_io.h"

namespace razivu_tool::net {

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

}  // namespace razivu_tool::net
