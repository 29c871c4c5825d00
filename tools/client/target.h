// SERVICE|PORT operands: a number is a port, anything else a name of the
// services database.
#pragma once

namespace razivu_tool {

// Makes the library reach the target: a port number becomes the default
// port, reached through a service name no database holds (returned); any
// other text is a service name (returned as it is, with no default port).
// nullptr for a number that is not a port (1 to 65535).
const char *choose_service(const char *target);

}  // namespace razivu_tool
