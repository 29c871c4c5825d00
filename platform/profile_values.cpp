// Copying profile values and defaults into the caller's buffer, the same on
// every platform.
#include <algorithm>
#include <cstring>

#include "platform/system_calls.h"

namespace razivu::platform {

int32_t copy_profile_value(std::string_view value, char *buf, int32_t cap) {
    if (buf == nullptr || cap <= 0) {
        return 0;
    }
    const std::size_t room = static_cast<std::size_t>(cap) - 1;
    const auto n = static_cast<int32_t>(std::min(value.size(), room));
    std::memcpy(buf, value.data(), static_cast<std::size_t>(n));
    buf[n] = '\0';
    return n;
}

// The default loses its trailing blanks, as GetPrivateProfileStringA's does.
int32_t copy_profile_default(const char *def, char *buf, int32_t cap) {
    std::string_view fallback = def != nullptr ? def : "";
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) {
        fallback.remove_suffix(1);
    }
    return copy_profile_value(fallback, buf, cap);
}

}  // namespace razivu::platform
