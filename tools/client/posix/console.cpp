// Standard input on Linux is bytes already.
#include "client/console.h"

namespace razivu_tool {

void binary_stdin() {}

}  // namespace razivu_tool
