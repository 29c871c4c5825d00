// The socket calls of the tool's wings: the library's plain system wrappers
// (platform/sockets.h), compiled into the tool as its text encodings are,
// and named here as the tool's own. `razivu call` bounds a whole reply with
// them, and `razivu proxy` relays both directions of many connections. Names
// to addresses: endpoint.h.
#pragma once

#include "platform/sockets.h"

namespace razivu_tool::net {

using namespace razivu::platform::net;

}  // namespace razivu_tool::net
