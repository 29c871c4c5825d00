// Operating-system version on Linux: the kernel's release and the system's
// own name for itself, from uname.
#include <cctype>
#include <cstdio>
#include <limits>
#include <sys/utsname.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"

namespace razivu::platform::posix {
namespace {

// Reads the decimal number at *text and moves past it; false when there
// is no digit or the number does not fit int32_t.
bool read_number(const char **text, int32_t *out) {
    const char *p = *text;
    int64_t value = 0;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return false;
    }
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = value * 10 + (*p - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
    }
    *out = static_cast<int32_t>(value);
    *text = p;
    return true;
}

}  // namespace

bool parse_kernel_release(const char *release, int32_t *major_out, int32_t *minor_out) {
    if (release == nullptr) {
        return false;
    }
    int32_t major = 0;
    int32_t minor = 0;
    const char *p = release;
    if (!read_number(&p, &major) || *p++ != '.' || !read_number(&p, &minor)) {
        return false;
    }
    *major_out = major;
    *minor_out = minor;
    return true;
}

}  // namespace razivu::platform::posix

namespace razivu::platform {

bool os_version(os_version_info *out) {
    struct utsname host{};
    if (out == nullptr || ::uname(&host) != 0 ||
        !posix::parse_kernel_release(host.release, &out->major, &out->minor)) {
        return false;
    }
    out->platform_id = platform_not_windows;
    std::snprintf(out->name, sizeof out->name, "%s", host.sysname);
    return true;
}

}  // namespace razivu::platform
