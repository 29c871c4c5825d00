// The clock on Linux.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "platform/platform.h"

namespace razivu::platform {

bool local_time(std::time_t t, std::tm *out) {
    return out != nullptr && ::localtime_r(&t, out) != nullptr;
}

int32_t now_millis() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return static_cast<int32_t>(tv.tv_usec / 1000);
}

bool ctime_text(std::time_t t, char *buf, std::size_t cap) {
    // ctime_r needs 26 bytes; years beyond 9999 have no such text.
    char tmp[64];
    if (buf == nullptr || cap < 26 || ::ctime_r(&t, tmp) == nullptr || std::strlen(tmp) >= cap) {
        return false;
    }
    std::strcpy(buf, tmp);
    return true;
}

}  // namespace razivu::platform
