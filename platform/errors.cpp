// Error numbers and the environment, the same on every platform.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {

int last_errno() {
    return errno;
}

void set_errno(int err) {
    errno = err;
}

const char *errno_text(int err) {
    const char *text = socket_error_text(err);
    return text != nullptr ? text : std::strerror(err);
}

const char *env(const char *name) {
    return std::getenv(name);
}

}  // namespace razivu::platform
