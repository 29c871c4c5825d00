// The system's own call tables, one per platform; the shared code keeps the
// tables in use and puts these back on reset. Only platform code includes this.
#pragma once

#include "platform/platform.h"

namespace razivu::platform {

const FileCalls &system_file_calls();
const NetCalls &system_net_calls();

}  // namespace razivu::platform
