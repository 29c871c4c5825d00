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
#include "cli/escape.h"
#include "cli/json.h"
#include "cli/options.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object instead of lines"},
};

// The members of a path: as the library names it and where the system keeps it.
JsonObject path_json(const char *path) {
    char host[RAZIVU_PATH_CAP] = {};
    JsonObject o;
    o.text("path", path);
    return GetHostPath(path, host, RAZIVU_PATH_CAP) == RAZIVU_STATUS_OK ? o.text("host_path", host)
                                                                        : o.raw("host_path", "null");
}

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
    "error stack, which also writes it as an entry of the error log; writes a trace line,\n"
    "which prints and empties the stack into the trace file when RAZIVU_DEBUG names one;\n"
    "then prints the paths of the error log and the trace file, each also as the path on\n"
    "this system where the library maps Windows-form paths below RAZIVU_PREFIX.\n"
    "\n"
    "Like every command but serve, diag writes its log entries to the file RAZIVU_TOOL_LOG\n"
    "names, or nowhere: never into errstack.txt, the error log of the library's programs\n"
    "(razivu serve among them), whose first entry of a run would empty it.",
    options,
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
    COMTrace("razivu diag: one error pushed by %s\n", function);
    const char *trace = COMGetTraceFile() != nullptr ? std::getenv("RAZIVU_DEBUG") : nullptr;
    char log[RAZIVU_PATH_CAP] = {};
    GetLogFilePath(GetVersionString(), "errstack.txt", log);
    const char *text = COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
    if (args.has("--json")) {
        std::printf("%s\n", JsonObject()
                                .raw("pushed", JsonObject().text("function", function).number("code", code).text("text", text).str())
                                .raw("trace", trace != nullptr ? path_json(trace).str() : "null")
                                .raw("error_log", log[0] != '\0' ? path_json(log).str() : "null")
                                .str()
                                .c_str());
        return exit_ok;
    }
    std::printf("pushed: %s, code %d: %s\n", shown(function, Encoding::utf8, false).c_str(),
                static_cast<int>(code), text);
    if (trace != nullptr) {
        print_path("trace (error stack printed there and emptied)", trace);
    } else {
        std::printf("trace: off (set RAZIVU_DEBUG to a file name to switch it on)\n");
    }
    if (log[0] != '\0') {
        print_path("error log", log);
    } else {
        std::printf("error log: not written (set %s to a file name for the tool's entries)\n",
                    tool_log_variable);
    }
    return exit_ok;
}

}  // namespace razivu_tool
