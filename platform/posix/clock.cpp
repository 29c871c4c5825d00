// The clock on Linux.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "platform/platform.h"
#include "platform/threads.h"

namespace razivu::platform {
namespace {

// The C library converts times under a lock of its own, which a fork does
// not release: a child forked while another thread converts would wait for
// it for ever. Conversions of the library's hold this Lock as well, which
// every fork waits for.
Lock conversion;

}  // namespace

bool local_time(std::time_t t, std::tm *out) {
    if (out == nullptr) {
        return false;
    }
    Locked held(conversion);
    return ::localtime_r(&t, out) != nullptr;
}

int32_t now_millis() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return static_cast<int32_t>(tv.tv_usec / 1000);
}

bool ctime_text(std::time_t t, char *buf, std::size_t cap) {
    // ctime_r needs 26 bytes; years beyond 9999 have no such text.
    char tmp[64];
    if (buf == nullptr || cap < 26) {
        return false;
    }
    {
        Locked held(conversion);
        if (::ctime_r(&t, tmp) == nullptr) {
            return false;
        }
    }
    if (std::strlen(tmp) >= cap) {
        return false;
    }
    std::strcpy(buf, tmp);
    return true;
}

}  // namespace razivu::platform
