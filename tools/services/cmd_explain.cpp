// razivu explain [CODE]: the texts behind the numbers the library answers
// with: its error codes (return codes and error-stack records), the status
// codes of the support library, and with --system the system's error
// numbers of system records.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/json.h"
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
    {"--json", nullptr, nullptr, "print one JSON document instead of lines"},
};

// One family's text of a code.
struct Meaning {
    const char *family;  // "error", "status", "system"
    int32_t code;
    std::string text;
};

// The table's text of code, or nullptr when it has no row.
const char *error_text(int32_t code) {
    const char *fallback = COMLookupErrorText(INT32_MIN, RAZIVU_KIND_LIBRARY);
    const char *text = COMLookupErrorText(code, RAZIVU_KIND_LIBRARY);
    return std::strcmp(text, fallback) != 0 ? text : nullptr;
}

std::string unknown_host_text() {
    return std::string(COMLookupErrorText(RAZIVU_E_UNKNOWN_HOST, RAZIVU_KIND_LIBRARY)) +
           " (COMConnectToServerSock: host not found)";
}

// Every family that knows code.
std::vector<Meaning> meanings_of(int32_t code) {
    std::vector<Meaning> out;
    if (const char *text = error_text(code); text != nullptr) {
        out.push_back({"error", code, text});
    } else if (code == RAZIVU_E_UNKNOWN_HOST) {
        out.push_back({"error", code, unknown_host_text()});
    }
    if (const char *text = status_text(code); text != nullptr) {
        out.push_back({"status", code, text});
    }
    return out;
}

std::vector<Meaning> every_meaning() {
    std::vector<Meaning> out = {{"error", RAZIVU_E_UNKNOWN_HOST, unknown_host_text()}};
    for (int32_t code = lowest_listed_code; code <= highest_listed_code; ++code) {
        if (const char *text = error_text(code); text != nullptr) {
            out.push_back({"error", code, text});
        }
    }
    for (const Status &s : all_statuses()) {
        out.push_back({"status", s.code, s.text});
    }
    return out;
}

void print_json(const std::vector<Meaning> &meanings) {
    std::vector<std::string> items;
    for (const Meaning &m : meanings) {
        items.push_back(JsonObject().text("family", m.family).number("code", m.code).text("text", m.text).str());
    }
    std::printf("%s\n", JsonObject().raw("meanings", json_array(items)).str().c_str());
}

void print_list(const std::vector<Meaning> &meanings) {
    const char *family = "";
    for (const Meaning &m : meanings) {
        if (std::strcmp(family, m.family) != 0) {
            family = m.family;
            std::printf("%s\n", family[0] == 'e' ? "error codes (return codes and error-stack records of kind 3):"
                                                 : "status codes of the support library:");
        }
        std::printf("  %5d  %s\n", static_cast<int>(m.code), m.text.c_str());
    }
}

void print_lines(const std::vector<Meaning> &meanings) {
    for (const Meaning &m : meanings) {
        std::printf("%s %s %d: %s\n", m.family, std::strcmp(m.family, "system") == 0 ? "error" : "code",
                    static_cast<int>(m.code), m.text.c_str());
    }
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
    "error number of a record of kind 1. --json prints {\"meanings\":[{\"family\":\"error\",\n"
    "\"code\":61,\"text\":...}]}, the family error, status or system.\n"
    "\n"
    "Exit status 1 when no family knows CODE.",
    options,
    Operands::none};

int cmd_explain(int argc, char **argv) {
    Args args;
    if (!parse_args(explain_help, argc, argv, 0, 1, args)) {
        return exit_usage;
    }
    const bool json = args.has("--json");
    if (args.operands.empty()) {
        json ? print_json(every_meaning()) : print_list(every_meaning());
        return exit_ok;
    }
    int32_t code = 0;
    if (!parse_int32(args.operands[0], INT32_MIN, INT32_MAX, code)) {
        return usage_error(explain_help, std::string("CODE must be a 32-bit integer, not '") +
                                             args.operands[0] + "'");
    }
    const std::vector<Meaning> meanings =
        args.has("--system") ? std::vector<Meaning>{{"system", code, std::strerror(code)}} : meanings_of(code);
    if (meanings.empty()) {
        std::fprintf(stderr, "razivu explain: %d is neither an error code nor a status code\n",
                     static_cast<int>(code));
        return exit_failed;
    }
    json ? print_json(meanings) : print_lines(meanings);
    return exit_ok;
}

}  // namespace razivu_tool
