// Error numbers and the environment, the same on every platform.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace razivu::platform {

int last_errno() {
    return errno;
}

void set_errno(int err) {
    errno = err;
}

const char *errno_text(int err) {
    return std::strerror(err);
}

const char *env(const char *name) {
    return std::getenv(name);
}

}  // namespace razivu::platform
