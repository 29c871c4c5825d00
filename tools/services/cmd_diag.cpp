// razivu diag: pushes one error onto the error stack, writes a trace line (so
// the stack is printed into the trace file when RAZIVU_DEBUG names one) and
// shows where the files it touched lie on this system.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

// "PATH", and on a second line where the system keeps it when that differs.
void print_path(const char *label, const char *path) {
    char host[RAZIVU_PATH_CAP] = {};
    std::printf("%s: %s\n", label, path);
    if (GetHostPath(path, host, RAZIVU_PATH_CAP) == RAZIVU_STATUS_OK &&
        std::strcmp(host, path) != 0) {
        std::printf("  on this system: %s\n", host);
    }
}

}  // namespace

const Help diag_help{
    "diag",
    "[FUNCTION [CODE]]",
    "push an error, trace it and show where the log files lie",
    "Pushes one error of FUNCTION (default DemoFunction) with CODE (default 54) onto the\n"
    "error stack, which also appends it to the error log errstack.txt; writes a trace\n"
    "line, which prints and empties the stack into the trace file when RAZIVU_DEBUG names\n"
    "one; then prints the paths of the error log and the trace file, each also as the\n"
    "path on this system where the library maps Windows-form paths below RAZIVU_PREFIX.",
    {},
    Operands::none};

int cmd_diag(int argc, char **argv) {
    Args args;
    if (!parse_args(diag_help, argc, argv, 0, 2, args)) {
        return exit_usage;
    }
    const char *function = !args.operands.empty() ? args.operands[0] : "DemoFunction";
    int32_t code = RAZIVU_E_TRANSFER;
    if (args.operands.size() > 1 && !parse_int32(args.operands[1], INT32_MIN, INT32_MAX, code)) {
        return usage_error(diag_help, std::string("CODE must be a 32-bit integer, not '") +
                                          args.operands[1] + "'");
    }

    COMPushError(function, code);
    std::printf("pushed: %s, code %d: %s\n", function, static_cast<int>(code),
                COMLookupErrorText(code, RAZIVU_KIND_LIBRARY));

    COMTrace("razivu diag: one error pushed by %s\n", function);
    const char *trace = std::getenv("RAZIVU_DEBUG");
    if (COMGetTraceFile() != nullptr && trace != nullptr) {
        print_path("trace (error stack printed there and emptied)", trace);
    } else {
        std::printf("trace: off (set RAZIVU_DEBUG to a file name to switch it on)\n");
    }

    char path[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(GetVersionString(), "errstack.txt", path);
    if (path[0] != '\0') {
        print_path("error log", path);
    } else {
        std::printf("error log: (none could be opened)\n");
    }
    return exit_ok;
}

}  // namespace razivu_tool
