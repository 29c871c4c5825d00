// A socket handed over by the service manager: systemd's socket activation
// (LISTEN_FDS) or inetd's standard input.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool::activation {

enum class Kind {
    none,        // nothing was passed
    listening,   // a listening socket: accept connections on it
    connection,  // one accepted connection (systemd Accept=yes, inetd nowait)
    unusable,    // something was passed that cannot be served; why says what
};

struct Passed {
    Kind kind = Kind::none;
    int32_t socket = -1;
    std::string why;
};

// The socket systemd passed to this process, when LISTEN_PID names it. The
// variables are removed, as the protocol asks, once read.
Passed from_systemd();
// Standard input as the socket. Standard output and standard error are moved
// to the null device when they are the same socket, as inetd leaves them, so
// that nothing the server prints reaches a client.
Passed from_inetd();

}  // namespace razivu_tool::activation
