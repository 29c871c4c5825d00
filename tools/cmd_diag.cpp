// razivu diag: pushes one error onto the error stack, writes a trace line (so
// the stack is printed into the trace file when RAZIVU_DEBUG names one) and
// shows the error log entry the push left.
#include <cstdint>
#include <cstdio>

#include <razivu/razivu.h>

#include "commands.h"
#include "numbers.h"

namespace razivu_tool {

int cmd_diag(int argc, char **argv) {
    const char *function = argc > 0 ? argv[0] : "DemoFunction";
    int32_t code = RAZIVU_E_TRANSFER;
    if (argc > 1 && !parse_int32(argv[1], INT32_MIN, INT32_MAX, code)) {
        std::fprintf(stderr, "razivu diag: CODE must be a 32-bit integer, not '%s'\n", argv[1]);
        return exit_usage;
    }
    if (argc > 2) {
        std::fprintf(stderr, "usage: razivu diag [FUNCTION [CODE]]\n");
        return exit_usage;
    }

    COMPushError(function, code);
    std::printf("pushed: %s, code %d: %s\n", function, static_cast<int>(code),
                COMLookupErrorText(code, RAZIVU_KIND_LIBRARY));

    COMTrace("razivu diag: one error pushed by %s\n", function);
    if (COMGetTraceFile() != nullptr) {
        std::printf("trace: written to $RAZIVU_DEBUG, error stack printed there and emptied\n");
    } else {
        std::printf("trace: off (set RAZIVU_DEBUG to a file name to switch it on)\n");
    }

    char path[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(GetVersionString(), "errstack.txt", path);
    std::printf("error log: %s\n", path[0] != '\0' ? path : "(none could be opened)");
    return exit_ok;
}

}  // namespace razivu_tool
