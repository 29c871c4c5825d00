// The clock on Windows.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace razivu::platform {

bool local_time(std::time_t t, std::tm *out) {
    return out != nullptr && localtime_s(out, &t) == 0;
}

int32_t now_millis() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return static_cast<int32_t>(st.wMilliseconds);
}

bool ctime_text(std::time_t t, char *buf, std::size_t cap) {
    return buf != nullptr && cap >= 26 && ctime_s(buf, cap, &t) == 0;
}

}  // namespace razivu::platform
