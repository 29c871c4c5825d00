// The call tables in use, one holder for all of them: each starts as its
// platform's system table (posix/ or win32/) and reset puts that back.
#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

// Set up at first use, so that no static initialiser can find it empty.
template <typename Calls, const Calls &(*system)()>
Calls &held() {
    static Calls calls = system();  // the calls in use; tests replace entries
    return calls;
}

}  // namespace

FileCalls &file_calls() {
    return held<FileCalls, system_file_calls>();
}

void reset_file_calls() {
    file_calls() = system_file_calls();
}

NetCalls &net_calls() {
    return held<NetCalls, system_net_calls>();
}

void reset_net_calls() {
    net_calls() = system_net_calls();
}

DdeCalls &dde_calls() {
    return held<DdeCalls, system_dde_calls>();
}

void reset_dde_calls() {
    dde_calls() = system_dde_calls();
}

}  // namespace razivu::platform
