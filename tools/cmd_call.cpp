// razivu call HOST SERVICE|PORT FUNCTION [s:TEXT|s:null|i:N|b:N|a:HEX|a:null]...
//
// Sends one call and prints every field of the reply, one per line. The
// replies of razivu serve's functions have a known number of fields; for any
// other function the reply is read until the server closes the connection or
// sends nothing more for a second. Exit status: 0 for a reply with return
// code 10, 1 for any other reply or a failure on the way, 2 for a bad command
// line or a value the wire format cannot carry.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "commands.h"
#include "fields.h"
#include "numbers.h"

namespace razivu_tool {
namespace {

const char *const usage_text =
    "usage: razivu call HOST SERVICE|PORT FUNCTION [s:TEXT|s:null|i:N|b:N|a:HEX|a:null]...\n";

// How long the first reply field may take, and the quiet that ends a reply
// of unknown length.
constexpr int32_t reply_seconds = 30;
constexpr int32_t quiet_seconds = 1;
// Stands for "read until the server closes or goes quiet".
constexpr std::size_t unknown_length = 0;

struct Request {
    const char *host;
    const char *target;  // service name or port
    Field function;
    std::vector<Field> args;
};

// Reply fields of razivu serve's functions when they succeed.
std::size_t expected_reply(const Request &r) {
    const std::string &name = r.function.data;
    if (name == "Echo") {
        return 1 + r.args.size();
    }
    if (name == "VIZIIsLeapYear" || name == "VIZIIsDateValid" ||
        name == "VIZIGetDaysSince1900") {
        return 2;
    }
    if (name == "VIZIGetDMYFromDaysSince1900") {
        return 5;
    }
    return unknown_length;
}

bool parse_request(int argc, char **argv, Request &r) {
    if (argc < 3) {
        std::fputs(usage_text, stderr);
        return false;
    }
    r.host = argv[0];
    r.target = argv[1];
    r.function = Field{Kind::function, 0, argv[2], false};
    for (int i = 3; i < argc; ++i) {
        Field f;
        std::string reason;
        if (!parse_argument(argv[i], f, reason)) {
            std::fprintf(stderr, "razivu call: argument '%s': %s\n%s", argv[i], reason.c_str(),
                         usage_text);
            return false;
        }
        r.args.push_back(f);
    }
    return true;
}

// Packs the call; with discard_send as the send function this only checks
// that the message layer accepts every value.
bool pack_call(const Request &r) {
    ResetBuffer();
    if (pack(r.function) != 0) {
        return false;
    }
    for (const Field &f : r.args) {
        if (pack(f) != 0) {
            return false;
        }
    }
    return true;
}

// A port number selects the default port and a name no services database
// holds; anything else is a service name.
const char *choose_service(const char *target) {
    if (target[0] == '\0' || std::strspn(target, "0123456789") != std::strlen(target)) {
        COMSetDefaultPort(0);
        return target;
    }
    int64_t port = 0;
    if (!parse_integer(target, 1, max_port, port)) {
        return nullptr;
    }
    COMSetDefaultPort(static_cast<int16_t>(PThtons(static_cast<uint16_t>(port))));
    return "";
}

// Reads and prints the reply. Returns its return code, or -1 when the reply
// could not be read completely.
int32_t print_reply(int32_t s, std::size_t expected) {
    int32_t code = -1;
    for (std::size_t n = 0; expected == unknown_length || n < expected; ++n) {
        const int32_t wait = n == 0 || expected != unknown_length ? reply_seconds : quiet_seconds;
        if (COMPollSock(s, wait) != RAZIVU_POLL_READABLE) {
            return expected == unknown_length && n > 0 ? code : -1;
        }
        Field f;
        const ReadResult r = read_field(s, f);
        if (r != ReadResult::field) {
            return r == ReadResult::closed && expected == unknown_length && n > 0 ? code : -1;
        }
        print(stdout, f);
        if (n == 0 && f.kind == Kind::return_code) {
            code = f.number;
            if (code != RAZIVU_OK && expected != unknown_length) {
                break;  // a failed call of a known function carries only its code
            }
        }
    }
    return code;
}

}  // namespace

int cmd_call(int argc, char **argv) {
    Request r;
    if (!parse_request(argc, argv, r)) {
        return exit_usage;
    }
    SetTransport(discard_send, nullptr, -1);
    if (!pack_call(r)) {
        std::fprintf(stderr, "razivu call: the wire format cannot carry this call: %s\n",
                     last_error().c_str());
        return exit_usage;
    }
    const char *service = choose_service(r.target);
    if (service == nullptr) {
        std::fprintf(stderr, "razivu call: port '%s' is not 1 to 65535\n", r.target);
        return exit_usage;
    }
    PTWSAStartup();
    const int32_t s = COMConnectToServerSock(r.host, service);
    if (s < 0) {
        ErrorRecord newest{};
        const bool unknown_host = COMPopError(&newest) != 0 &&
                                  newest.kind == RAZIVU_KIND_LIBRARY && newest.code == RAZIVU_E_UNKNOWN_HOST;
        std::fprintf(stderr, "razivu call: cannot connect to %s %s: %s\n", r.host, r.target,
                     unknown_host ? "host not found"
                                  : newest.text != nullptr ? newest.text : "no error recorded");
        PTWSACleanup();
        return exit_failed;
    }
    while (COMGetLastErrorText() != nullptr) {
        // the look-up warnings of a port given by number are no news here
    }
    SetTransport(COMSend, COMReceive, s);
    pack_call(r);
    SendBuffer();
    const int32_t code = print_reply(s, expected_reply(r));
    COMCloseSock(s);
    PTWSACleanup();
    if (code < 0) {
        std::fprintf(stderr, "razivu call: the reply was cut short: %s\n", last_error().c_str());
        return exit_failed;
    }
    return code == RAZIVU_OK ? exit_ok : exit_failed;
}

}  // namespace razivu_tool
