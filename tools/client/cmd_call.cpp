// razivu call HOST SERVICE|PORT FUNCTION [ARG]...
//
// Sends one call and prints every field of the reply as it arrives. One
// deadline (--timeout) bounds everything: the connect and the sending under
// the watchdog, the reply through the reply reader. The cause of a failure
// is taken where it happens, before a later push, trace line or close can
// replace it.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"
#include "client/arguments.h"
#include "client/errors.h"
#include "client/field_print.h"
#include "client/reply_reader.h"
#include "client/target.h"
#include "client/watchdog.h"
#include "common/fields.h"

namespace razivu_tool {
namespace {

constexpr int64_t default_timeout_seconds = 30;
constexpr int64_t max_timeout_seconds = 86400;
constexpr int64_t default_max_bytes = 1 << 20;
constexpr int64_t default_max_fields = 10000;
// The quiet that ends a reply of unknown length.
constexpr int32_t quiet_ms = 1000;
// Stands for "read until the server closes or goes quiet".
constexpr std::size_t unknown_length = 0;

const Option options[] = {
    {"--timeout", nullptr, "SECONDS",
     "time for the connection and the whole reply, 0 for none (default 30)"},
    {"--max-bytes", nullptr, "N", "read at most N bytes of reply (default 1048576)"},
    {"--max-fields", nullptr, "N", "read at most N reply fields (default 10000)"},
    {"--json", nullptr, nullptr, "print the reply as one JSON document"},
    {"--verbose", "-v", nullptr,
     "show the bytes sent and received with their offsets on standard error"},
};

struct Request {
    const char *host = nullptr;
    const char *target = nullptr;  // service name or port
    Field function;
    std::vector<Field> args;
    std::vector<const char *> arg_texts;  // as typed, for messages
    int64_t timeout = default_timeout_seconds;
    int64_t max_bytes = default_max_bytes;
    int64_t max_fields = default_max_fields;
    bool json = false;
    std::FILE *verbose = nullptr;  // standard error with -v
};

// Process-wide: the sending of the call, through send_call.
struct Sending {
    uint64_t sent = 0;             // bytes sent so far
    bool failed = false;           // a send failed; nothing more goes out
    std::string why;               // its cause
    std::FILE *verbose = nullptr;  // where sent bytes are shown, or nowhere
};
Sending sending;

// The send slot: COMSend, with the bytes shown and the first failure's
// cause kept (a later send to the socket the transport closed would only
// report that it is closed).
int32_t send_call(int32_t s, char *buffer, int32_t count) {
    if (sending.failed) {
        return -1;
    }
    if (sending.verbose != nullptr) {
        print_bytes(sending.verbose, '>', sending.sent,
                    std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    const long mark = trace_mark();
    if (COMSend(s, buffer, count) != count) {
        sending.failed = true;
        sending.why = cause_of(newest_error(mark));
        return -1;
    }
    sending.sent += static_cast<uint64_t>(count);
    return count;
}

// Reply fields of razivu serve's functions when they succeed.
std::size_t expected_reply(const Request &r) {
    const std::string &name = r.function.data;
    if (name == "Echo") {
        return 1 + r.args.size();
    }
    if (name == "VIZIIsLeapYear" || name == "VIZIIsDateValid" || name == "VIZIGetDaysSince1900") {
        return 2;
    }
    if (name == "VIZIGetDMYFromDaysSince1900") {
        return 5;
    }
    return unknown_length;
}

bool parse_request(const Args &args, Request &r) {
    if (!option_number(call_help, args, "--timeout", 0, max_timeout_seconds,
                       default_timeout_seconds, r.timeout) ||
        !option_number(call_help, args, "--max-bytes", 1, INT64_MAX, default_max_bytes,
                       r.max_bytes) ||
        !option_number(call_help, args, "--max-fields", 1, INT64_MAX, default_max_fields,
                       r.max_fields)) {
        return false;
    }
    r.json = args.has("--json");
    r.verbose = args.has("--verbose") ? stderr : nullptr;
    r.host = args.operands[0];
    r.target = args.operands[1];
    r.function = Field{Kind::function, 0, args.operands[2], false};
    for (std::size_t i = 3; i < args.operands.size(); ++i) {
        Field f;
        std::string reason;
        if (!parse_argument(args.operands[i], f, reason)) {
            usage_error(call_help, std::string("argument '") + args.operands[i] + "': " + reason);
            return false;
        }
        r.args.push_back(f);
        r.arg_texts.push_back(args.operands[i]);
    }
    return true;
}

// Why the message layer refused a value, in the terms of its limits.
const char *limit_of(Kind kind) {
    return kind == Kind::integer || kind == Kind::boolean
               ? "integers and booleans travel as at most 7 characters, -999999 to 9999999"
               : "a field carries at most 991 bytes of data";
}

// Packs the call; with discard_send as the send function this only checks
// that the message layer accepts every value. Returns the index of the
// refused field (-1 for the function name), or args.size() when all fit.
long pack_call(const Request &r) {
    ResetBuffer();
    if (pack(r.function) != 0) {
        return -1;
    }
    for (std::size_t i = 0; i < r.args.size(); ++i) {
        if (pack(r.args[i]) != 0) {
            return static_cast<long>(i);
        }
    }
    return static_cast<long>(r.args.size());
}

// What the user sees of one call: lines, or a JSON document, and the
// closing message with its exit status.
class Report {
public:
    explicit Report(const Request &r)
        : r_(r),
          doc_(stdout, "\"host\":" + json_string(r.host) + ",\"target\":" + json_string(r.target) +
                           ",\"function\":" + json_string(r.function.data) + ",") {}

    void field(const Field &f, uint64_t offset) {
        if (r_.json) {
            doc_.add(f, offset);
        } else {
            print(stdout, f);
        }
        std::fflush(stdout);
    }
    // Ends the output; an empty problem means the reply came whole.
    int finish(int status, int32_t code, const std::string &problem) {
        if (r_.json) {
            doc_.close(tail(code, problem));
        }
        if (!problem.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "razivu call: %s\n", problem.c_str());
        }
        return status;
    }
    // The texts the watchdog writes when the deadline passes in step.
    void arm_watchdog(const char *step) {
        if (r_.timeout == 0) {
            return;
        }
        const std::string problem = "timed out after " + std::to_string(r_.timeout) + " s " + step;
        const auto left = std::chrono::ceil<std::chrono::seconds>(deadline_ - reply::Clock::now());
        watchdog::arm(static_cast<int32_t>(std::max<long long>(1, left.count())),
                      r_.json ? doc_.closed_text(tail(no_code, problem)) : std::string(),
                      "razivu call: " + problem + "\n", exit_timeout);
    }
    reply::Clock::time_point deadline() const { return deadline_; }

    static constexpr int32_t no_code = INT32_MIN;

private:
    static std::string tail(int32_t code, const std::string &problem) {
        return "\"return_code\":" + (code == no_code ? std::string("null") : std::to_string(code)) +
               ",\"error\":" + (problem.empty() ? std::string("null") : json_string(problem));
    }

    const Request &r_;
    FieldsDocument doc_;
    reply::Clock::time_point deadline_ =
        r_.timeout == 0 ? reply::no_deadline
                        : reply::Clock::now() + std::chrono::seconds(r_.timeout);
};

// The message for a reply that ended before it was whole; at is where the
// unfinished field began.
std::string reply_problem(const Request &r, uint64_t at) {
    const uint64_t got = reply::received();
    const std::string where = got == 0 ? " before any reply"
                                       : " with " + std::to_string(got) +
                                             " bytes of the reply in (the field at byte " +
                                             std::to_string(at) + " unfinished)";
    switch (reply::stop()) {
    case reply::Stop::timed_out:
        return "timed out after " + std::to_string(r.timeout) + " s" + where;
    case reply::Stop::none:
        return "the reply holds " + no_field_at(at, last_header()) + " (-v shows the bytes)";
    default: return reply::why() + where;
    }
}

int exit_for(reply::Stop stop) {
    return stop == reply::Stop::timed_out ? exit_timeout : exit_io;
}

// Reads and shows the reply; returns the exit status.
int read_reply(const Request &r, int32_t s, Report &report) {
    const std::size_t expected = expected_reply(r);
    int32_t code = Report::no_code;
    std::size_t n = 0;
    for (; expected == unknown_length || n < expected; ++n) {
        // Quiet, or closed, after a whole field: the reply is complete. A time-out
        // that ends the quiet wait says nothing of the kind: the server may have
        // been about to send more, so it stays a time-out.
        if (expected == unknown_length && n > 0 && !reply::wait(quiet_ms) &&
            (reply::stop() == reply::Stop::none || reply::stop() == reply::Stop::closed)) {
            break;
        }
        if (static_cast<int64_t>(n) == r.max_fields) {
            return report.finish(
                exit_io, code,
                "the reply passed " + std::to_string(r.max_fields) + " fields (--max-fields)");
        }
        const uint64_t at = reply::offset();
        Field f;
        const ReadResult got = read_field(reply::receive, s, f);
        if (got != ReadResult::field) {
            const std::string problem = reply_problem(r, at);
            drop_errors();
            return report.finish(exit_for(reply::stop()), code, problem);
        }
        report.field(f, at);
        if (n == 0 && f.kind == Kind::return_code) {
            code = f.number;
            if (code != RAZIVU_OK && expected != unknown_length) {
                ++n;
                break;  // a failed call of a known function carries only its code
            }
        }
    }
    if (code == Report::no_code) {
        return report.finish(exit_failed, code, "the reply does not begin with a return code");
    }
    return report.finish(code == RAZIVU_OK ? exit_ok : exit_failed, code, "");
}

int run_call(const Request &r, const char *service) {
    Report report(r);
    report.arm_watchdog(("connecting to " + std::string(r.host) + " " + r.target).c_str());
    PTWSAStartup();
    const long mark = trace_mark();
    const int32_t s = COMConnectToServerSock(r.host, service);
    if (s < 0) {
        watchdog::disarm();
        const LibraryError e = newest_error(mark);
        const bool unknown_host = e.kind == RAZIVU_KIND_LIBRARY && e.code == RAZIVU_E_UNKNOWN_HOST;
        PTWSACleanup();
        return report.finish(exit_io, Report::no_code,
                             "cannot connect to " + std::string(r.host) + " " + r.target + ": " +
                                 (unknown_host ? std::string("host not found") : cause_of(e)));
    }
    drop_errors();  // the look-up warnings of a port given by number are no news here
    report.arm_watchdog("sending the call");
    sending = Sending{0, false, {}, r.verbose};
    SetTransport(send_call, nullptr, s);
    pack_call(r);
    SendBuffer();
    watchdog::disarm();
    int status = 0;
    if (sending.failed) {
        status =
            report.finish(exit_io, Report::no_code, "the call could not be sent: " + sending.why);
    } else {
        reply::start(s, report.deadline(), static_cast<uint64_t>(r.max_bytes), r.verbose);
        status = read_reply(r, s, report);
    }
    COMCloseSock(s);  // releases the handle also when the transport closed it
    drop_errors();
    PTWSACleanup();
    return status;
}

}  // namespace

const Help call_help{
    "call",
    "HOST SERVICE|PORT FUNCTION [ARG]...",
    "send one call and print every field of the reply",
    "Each ARG is one field of the call:\n"
    "  s:TEXT    a string; s:null is the null string\n"
    "  s:\\null   the four letters null (one backslash before null is dropped)\n"
    "  i:N       an integer, -999999 to 9999999\n"
    "  b:N       a boolean, 0 to 9\n"
    "  a:HEX     a byte array as pairs of hex digits; a:null is the null array\n"
    "A PORT is a number; anything else is a name of the services database.\n"
    "\n"
    "The reply is printed one field per line as it arrives, return codes with their text:\n"
    "  $ razivu call 127.0.0.1 7000 Echo s:abc i:42\n"
    "  return   10 (Call was successful.)\n"
    "  string   \"abc\"\n"
    "  integer  42\n"
    "The replies of the functions of razivu serve have a known number of fields; for any\n"
    "other function the reply is read until the server closes the connection or sends\n"
    "nothing more for a second.\n"
    "\n"
    "With --json the output is one document: host, target, function, the fields (each with\n"
    "its offset, kind and value; byte arrays in hex, texts as Latin-1), return_code and\n"
    "error (null, or the message below).\n"
    "\n"
    "Exit status: 0 for return code 10, 1 for another code, 2 for a bad command line or a\n"
    "value the wire format cannot carry, 3 when the connection or the reply failed, 4 when\n"
    "--timeout passed.",
    options,
    Operands::none};

int cmd_call(int argc, char **argv) {
    Args args;
    Request r;
    if (!parse_args(call_help, argc, argv, 3, INT_MAX, args) || !parse_request(args, r)) {
        return exit_usage;
    }
    SetTransport(discard_send, nullptr, -1);
    if (const long refused = pack_call(r); refused < static_cast<long>(r.args.size())) {
        drop_errors();
        const bool name = refused < 0;
        return usage_error(
            call_help,
            std::string(name ? "function name" : "argument '") +
                (name ? "" : r.arg_texts[static_cast<std::size_t>(refused)]) + (name ? "" : "'") +
                " cannot travel in the wire format: " +
                limit_of(name ? Kind::function : r.args[static_cast<std::size_t>(refused)].kind));
    }
    const char *service = choose_service(r.target);
    if (service == nullptr) {
        return usage_error(call_help, std::string("port '") + r.target + "' is not 1 to 65535");
    }
    return run_call(r, service);
}

}  // namespace razivu_tool
