// The server a client command reaches, as users of curl and socat write it:
// two words (HOST PORT), one (HOST:PORT, [IPV6]:PORT), or none, when the
// environment names it (RAZIVU_HOST, default 127.0.0.1, and RAZIVU_PORT).
// A PORT may also be a name of the services database.
#pragma once

#include <string>
#include <vector>

namespace razivu_tool {

struct Target {
    std::string host;     // a name, an IPv4 or an IPv6 address (no brackets)
    std::string service;  // a port number or a service name
    // "host:7000", "[::1]:7000"
    std::string text() const;
};

// Splits HOST:PORT or [IPV6]:PORT; false for any other word (an IPv6
// address without brackets among them).
bool split_host_port(const char *word, Target &out);

// Takes the target from the front of operands and returns how many operands
// it took: 1 for one word of the form HOST:PORT; 2 for HOST and PORT when a
// second operand is there and `follows` (what comes after the target, may
// be null) does not claim it; 0 when the environment names the target.
// -1 with problem when nothing names it, or a port number is not 1 to 65535.
int take_target(const std::vector<const char *> &operands, bool (*follows)(const char *word),
                Target &out, std::string &problem);

}  // namespace razivu_tool
