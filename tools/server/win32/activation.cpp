// Windows has neither systemd's socket activation nor inetd. What comes in
// from outside is the connection of a worker process of `razivu serve`,
// which its listening process hands over (handoff.h).
#include "server/activation.h"

#include "server/win32/handoff.h"

namespace razivu_tool::activation {

Passed from_systemd() {
    if (!handoff::is_worker()) {
        return Passed{};
    }
    Passed passed;
    passed.socket = handoff::receive(passed.why);
    passed.kind = passed.socket >= 0 ? Kind::connection : Kind::unusable;
    return passed;
}

Passed from_inetd() {
    return Passed{Kind::unusable, -1, "--inetd is not available on Windows"};
}

}  // namespace razivu_tool::activation
