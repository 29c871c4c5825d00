// razivu explain [CODE]: the texts behind the numbers the library answers
// with: its error codes (return codes and error-stack records), the status
// codes of the support library, and with --system the system's error
// numbers of system records.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"
#include "services/status_codes.h"

namespace razivu_tool {
namespace {

// Error codes are listed over the range a return code can travel in.
constexpr int32_t lowest_listed_code = -9999;
constexpr int32_t highest_listed_code = 99999;

const Option options[] = {
    {"--system", nullptr, nullptr, "CODE is a system error number (a record of kind 1)"},
};

// The table's text of code, or nullptr when it has no row.
const char *error_text(int32_t code) {
    const char *fallback = COMLookupErrorText(INT32_MIN, RAZIVU_KIND_LIBRARY);
    const char *text = COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
    return std::strcmp(text, fallback) != 0 ? text : nullptr;
}

void list_all() {
    std::printf("error codes (return codes and error-stack records of kind 3):\n");
    std::printf("  %5d  %s (COMConnectToServerSock: host not found)\n", RAZIVU_E_UNKNOWN_HOST,
                COMLookupErrorText(RAZIVU_E_UNKNOWN_HOST, RAZIVU_KIND_LIBRARY));
    for (int32_t code = lowest_listed_code; code <= highest_listed_code; ++code) {
        if (const char *text = error_text(code); text != nullptr) {
            std::printf("  %5d  %s\n", static_cast<int>(code), text);
        }
    }
    std::printf("status codes of the support library:\n");
    for (const Status &s : all_statuses()) {
        std::printf("  %5d  %s\n", static_cast<int>(s.code), s.text);
    }
}

// One code in every family that knows it; false when none does.
bool explain(int32_t code) {
    bool known = false;
    if (const char *text = error_text(code); text != nullptr) {
        std::printf("error code %d: %s\n", static_cast<int>(code), text);
        known = true;
    } else if (code == RAZIVU_E_UNKNOWN_HOST) {
        std::printf("error code %d: %s (COMConnectToServerSock: host not found)\n",
                    static_cast<int>(code), COMLookupErrorText(code, RAZIVU_KIND_LIBRARY));
        known = true;
    }
    if (const char *text = status_text(code); text != nullptr) {
        std::printf("status code %d: %s\n", static_cast<int>(code), text);
        known = true;
    }
    return known;
}

}  // namespace

const Help explain_help{
    "explain",
    "[CODE]",
    "print the text of an error code or a status code",
    "An error code is a return code of a reply or the code of an error-stack record of\n"
    "kind 3; a status code is what a support-library function (system queries, log files)\n"
    "returns. The two families share some numbers; each that knows CODE is printed:\n"
    "  $ razivu explain 61\n"
    "  error code 61: No matching COMrpc function found at server.\n"
    "Without CODE every code of both families is listed. With --system, CODE is the system\n"
    "error number of a record of kind 1.\n"
    "\n"
    "Exit status 1 when no family knows CODE.",
    options,
    Operands::none};

int cmd_explain(int argc, char **argv) {
    Args args;
    if (!parse_args(explain_help, argc, argv, 0, 1, args)) {
        return exit_usage;
    }
    if (args.operands.empty()) {
        list_all();
        return exit_ok;
    }
    int32_t code = 0;
    if (!parse_int32(args.operands[0], INT32_MIN, INT32_MAX, code)) {
        return usage_error(explain_help, std::string("CODE must be a 32-bit integer, not '") +
                                             args.operands[0] + "'");
    }
    if (args.has("--system")) {
        std::printf("system error %d: %s\n", static_cast<int>(code), std::strerror(code));
        return exit_ok;
    }
    if (!explain(code)) {
        std::fprintf(stderr, "razivu explain: %d is neither an error code nor a status code\n",
                     static_cast<int>(code));
        return exit_failed;
    }
    return exit_ok;
}

}  // namespace razivu_tool
