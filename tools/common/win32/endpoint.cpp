// Addresses of either family on Windows, through WinSock's resolver.
#include "common/endpoint.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace razivu_tool::net {

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
              : rc == EAI_NONAME || rc == WSANO_DATA ? "host not found"
                                                      : error_text(rc);
        return false;
    }
    const bool any = take_addresses(found, out);
    ::freeaddrinfo(found);
    why = any ? "" : "host not found";
    return any;
}

}  // namespace razivu_tool::net
