#include "client/target.h"

#include <cstdint>
#include <cstring>

#include <razivu/razivu.h>

#include "common/numbers.h"

namespace razivu_tool {

const char *choose_service(const char *target) {
    if (target[0] == '\0' || std::strspn(target, "0123456789") != std::strlen(target)) {
        COMSetDefaultPort(0);
        return target;
    }
    int64_t port = 0;
    if (!parse_integer(target, 1, max_port, port)) {
        return nullptr;
    }
    COMSetDefaultPort(static_cast<int16_t>(PThtons(static_cast<uint16_t>(port))));
    return "";
}

}  // namespace razivu_tool
