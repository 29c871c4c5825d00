// Windows has neither systemd's socket activation nor inetd. What comes in
// from outside is the connection of a worker process of the server, which
// its listening process hands over (serve_handoff.h).
#include "platform/serving.h"
#include "platform/win32/serve_handoff.h"

namespace razivu::platform::activation {

Passed from_systemd() {
    if (!handoff::is_worker()) {
        return Passed{};
    }
    Passed passed;
    passed.socket = handoff::receive(passed.why);
    passed.kind = passed.socket >= 0 ? Kind::connection : Kind::unusable;
    passed.handed = true;
    return passed;
}

Passed from_inetd() {
    return Passed{Kind::unusable, -1, "a socket from inetd is not available on Windows"};
}

}  // namespace razivu::platform::activation
