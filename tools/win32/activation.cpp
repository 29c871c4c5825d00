// Windows has neither systemd's socket activation nor inetd.
#include "../activation.h"

namespace razivu_tool::activation {

Passed from_systemd() {
    return Passed{};
}

Passed from_inetd() {
    return Passed{Kind::unusable, -1, "--inetd is not available on Windows"};
}

}  // namespace razivu_tool::activation
