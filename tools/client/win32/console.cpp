#include "client/console.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace razivu_tool {

void binary_stdin() {
    _setmode(_fileno(stdin), _O_BINARY);
}

}  // namespace razivu_tool
