// Inner switch of the error stack, for the library's server. Not part of
// the public interface.
#pragma once

namespace razivu::diagnostics {

// While one lives, the calling thread's pushes go onto its error stack as
// always but not into the error log: what a server's clients cause is
// logged by the server itself, within a bound of its own.
class UnloggedPushes {
public:
    UnloggedPushes();
    ~UnloggedPushes();
    UnloggedPushes(const UnloggedPushes &) = delete;
    UnloggedPushes &operator=(const UnloggedPushes &) = delete;
};

}  // namespace razivu::diagnostics
