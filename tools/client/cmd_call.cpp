// razivu call [TARGET] FUNCTION [ARG]...
//
// Sends one call and prints every field of the reply as it arrives. One
// deadline (--timeout) bounds everything: the name look-up and the sending
// under the watchdog, the connect and the reply by waits that end with it.
// The connection is the tool's own (either address family, no service
// look-up for a port number); the library packs the call and decodes the
// reply. The cause of a failure is taken where it happens.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "standins/text.h"

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"
#include "client/arguments.h"
#include "client/console.h"
#include "client/errors.h"
#include "client/field_print.h"
#include "client/reply_reader.h"
#include "client/target.h"
#include "client/watchdog.h"
#include "common/endpoint.h"
#include "common/fields.h"
#include "common/net_io.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

constexpr int64_t default_timeout_ms = 30000;
constexpr int64_t max_timeout_seconds = 86400;
constexpr int64_t default_max_bytes = 1 << 20;
constexpr int64_t default_max_fields = 10000;
// The quiet that ends a reply of unknown length.
constexpr int32_t quiet_ms = 1000;
// Stands for "read until the server closes or goes quiet".
constexpr std::size_t unknown_length = 0;

const Option options[] = {
    {"--timeout", nullptr, "SECONDS",
     "time for the connection and the whole reply, 0.5 for half a second, 0 for none (default "
     "30, or RAZIVU_TIMEOUT)"},
    {"--args", nullptr, "FILE", "read more ARGs from FILE, one a line (- for standard input)"},
    encoding_option,
    {"--max-bytes", nullptr, "N", "read at most N bytes of reply (default 1048576)"},
    {"--max-fields", nullptr, "N", "read at most N reply fields (default 10000)"},
    {"--json", nullptr, nullptr, "print the reply as one JSON document"},
    {"--verbose", "-v", nullptr,
     "show the bytes sent and received with their offsets on standard error"},
};

struct Request {
    Target target;
    Field function;
    std::vector<Field> args;
    std::vector<std::string> arg_texts;  // as typed, for messages
    int64_t timeout_ms = default_timeout_ms;
    int64_t max_bytes = default_max_bytes;
    int64_t max_fields = default_max_fields;
    Encoding encoding = Encoding::utf8;
    bool json = false;
    std::FILE *verbose = nullptr;  // standard error with -v
};

// Process-wide: the sending of the call, through send_call.
struct Sending {
    int32_t socket = -1;
    uint64_t sent = 0;             // bytes sent so far
    bool failed = false;           // a send failed; nothing more goes out
    std::string why;               // its cause
    std::FILE *verbose = nullptr;  // where sent bytes are shown, or nowhere
};
Sending sending;

// The send slot: the packed bytes onto the connection, shown with -v; the
// first failure's cause is kept and nothing more is sent.
int32_t send_call(int32_t, char *buffer, int32_t count) {
    if (sending.failed) {
        return -1;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(count));
    if (sending.verbose != nullptr) {
        print_bytes(sending.verbose, '>', sending.sent, bytes);
    }
    if (!net::send_all(sending.socket, bytes.data(), bytes.size())) {
        sending.failed = true;
        sending.why = net::error_text();
        return -1;
    }
    sending.sent += bytes.size();
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

bool is_argument(const char *word) {
    return word[0] != '\0' && std::strchr("siba", word[0]) != nullptr && word[1] == ':';
}

// The ARGs of --args, after those of the command line.
bool read_argument_file(const char *path, std::vector<std::string> &texts) {
    const bool from_stdin = std::strcmp(path, "-") == 0;
    if (from_stdin) {
        binary_stdin();
    }
    std::FILE *file = from_stdin ? stdin : std::fopen(path, "rb");
    std::string reason = file == nullptr ? std::strerror(errno) : "";
    const bool read = file != nullptr && read_arguments(file, texts, reason);
    if (file != nullptr && !from_stdin) {
        std::fclose(file);
    }
    if (!read) {
        usage_error(call_help, std::string("--args ") + path + ": " + reason);
    }
    return read;
}

// A text field in the code page asked for; false when a character has no byte there.
bool encode_text(Field &f, Encoding encoding) {
    if (encoding == Encoding::utf8 || f.null ||
        (f.kind != Kind::string && f.kind != Kind::function)) {
        return true;
    }
    std::string bytes;
    if (!razivu::standins::cp1252_from_utf8(f.data, bytes)) {
        return false;
    }
    f.data = bytes;
    return true;
}

bool parse_fields(const Args &args, std::size_t first, Request &r) {
    std::vector<std::string> texts(args.operands.begin() + static_cast<long>(first + 1),
                                   args.operands.end());
    if (const char *path = args.value("--args"); path != nullptr && !read_argument_file(path, texts)) {
        return false;
    }
    r.function = Field{Kind::function, 0, args.operands[first], false};
    if (!encode_text(r.function, r.encoding)) {
        usage_error(call_help, "the function name has a character code page 1252 lacks");
        return false;
    }
    for (const std::string &text : texts) {
        Field f;
        std::string reason;
        const bool parsed = parse_argument(text.c_str(), f, reason);
        if (!parsed || !encode_text(f, r.encoding)) {
            usage_error(call_help, "argument '" + shown(text, Encoding::utf8, false) +
                                       "': " + (parsed ? "a character code page 1252 lacks" : reason));
            return false;
        }
        r.args.push_back(f);
        r.arg_texts.push_back(text);
    }
    return true;
}

bool parse_request(const Args &args, Request &r) {
    if (!option_seconds(call_help, args, "--timeout", "RAZIVU_TIMEOUT", max_timeout_seconds,
                        default_timeout_ms, r.timeout_ms) ||
        !option_number(call_help, args, "--max-bytes", 1, INT64_MAX, default_max_bytes,
                       r.max_bytes) ||
        !option_number(call_help, args, "--max-fields", 1, INT64_MAX, default_max_fields,
                       r.max_fields) ||
        !option_encoding(call_help, args, r.encoding)) {
        return false;
    }
    r.json = args.has("--json");
    r.verbose = args.has("--verbose") ? stderr : nullptr;
    std::string problem;
    const int took = take_target(args.operands, is_argument, r.target, problem);
    const auto at = static_cast<std::size_t>(took);
    if (took < 0 || args.operands.size() <= at || is_argument(args.operands[at])) {
        usage_error(call_help, took < 0 ? problem : "missing FUNCTION (the server is HOST PORT or HOST:PORT)");
        return false;
    }
    return parse_fields(args, static_cast<std::size_t>(took), r);
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
          doc_(stdout,
               "\"server\":" + json_string(r.target.text()) + ",\"function\":" +
                   json_string(decoded(r.function.data, r.encoding)) + ",\"encoding\":\"" +
                   encoding_name(r.encoding) + "\",",
               r.encoding) {}

    void field(const Field &f, uint64_t offset) {
        if (r_.json) {
            doc_.add(f, offset);
        } else {
            print(stdout, f, r_.encoding);
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
    void arm_watchdog(const std::string &step) {
        if (r_.timeout_ms == 0) {
            return;
        }
        const std::string problem = timed_out(step);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - reply::Clock::now());
        watchdog::arm(static_cast<int32_t>(std::max<long long>(1, left.count())),
                      r_.json ? doc_.closed_text(tail(no_code, problem)) : std::string(),
                      "razivu call: " + problem + "\n", exit_timeout);
    }
    std::string timed_out(const std::string &step) const {
        return "timed out after " + seconds_text(r_.timeout_ms) + " s " + step;
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
        r_.timeout_ms == 0 ? reply::no_deadline
                           : reply::Clock::now() + std::chrono::milliseconds(r_.timeout_ms);
};

// The message for a reply that ended before it was whole; at is where the
// unfinished field began.
std::string reply_problem(const Report &report, uint64_t at) {
    const uint64_t got = reply::received();
    const std::string where = got == 0 ? "before any reply"
                                       : "with " + std::to_string(got) +
                                             " bytes of the reply in (the field at byte " +
                                             std::to_string(at) + " unfinished)";
    switch (reply::stop()) {
    case reply::Stop::timed_out: return report.timed_out(where);
    case reply::Stop::none:
        return "the reply holds " + no_field_at(at, last_header()) + " (-v shows the bytes)";
    default: return reply::why() + " " + where;
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
            const std::string problem = reply_problem(report, at);
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

// Milliseconds to the deadline, at least 1; -1 without one.
int32_t ms_left(const Report &report) {
    if (report.deadline() == reply::no_deadline) {
        return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(report.deadline() - reply::Clock::now());
    return static_cast<int32_t>(std::clamp<long long>(left.count(), 0, INT32_MAX));
}

// A connection to the first address of the target that takes one, within
// the deadline: the blocking socket, or -1 with why (empty for a time-out).
int32_t connect_to(const Request &r, const Report &report, std::string &why) {
    std::vector<net::Endpoint> found;
    if (!net::resolve(r.target.host.c_str(), r.target.service.c_str(), false, found, why)) {
        return -1;
    }
    for (const net::Endpoint &e : found) {
        const int32_t s = net::connect_start(e, why);
        if (s < 0) {
            continue;
        }
        net::Watch w{s, false, true};
        const int32_t ready = net::wait_any({&w, 1}, ms_left(report));
        if (ready > 0 && net::connect_finished(s)) {
            net::set_blocking(s, true);
            return s;
        }
        why = ready == 0 ? "" : net::error_text();
        net::close_socket(s);
        if (ready == 0) {
            return -1;
        }
    }
    return -1;
}

int run_call(const Request &r) {
    Report report(r);
    const std::string where = "connecting to " + r.target.text();
    report.arm_watchdog(where);
    PTWSAStartup();
    std::string why;
    const int32_t s = connect_to(r, report, why);
    if (s < 0) {
        watchdog::disarm();
        PTWSACleanup();
        return why.empty() ? report.finish(exit_timeout, Report::no_code, report.timed_out(where))
                           : report.finish(exit_io, Report::no_code,
                                           "cannot connect to " + r.target.text() + ": " + why);
    }
    report.arm_watchdog("sending the call");
    sending = Sending{s, 0, false, {}, r.verbose};
    SetTransport(send_call, nullptr, s);
    pack_call(r);
    SendBuffer();
    watchdog::disarm();
    int status = 0;
    if (sending.failed) {
        drop_errors();
        status =
            report.finish(exit_io, Report::no_code, "the call could not be sent: " + sending.why);
    } else {
        reply::start(s, report.deadline(), static_cast<uint64_t>(r.max_bytes), r.verbose);
        status = read_reply(r, s, report);
    }
    net::close_socket(s);
    PTWSACleanup();
    return status;
}

}  // namespace

const Help call_help{
    "call",
    "[HOST PORT | HOST:PORT] FUNCTION [ARG]...",
    "send one call and print every field of the reply",
    "The server is HOST and PORT as two words, or one: HOST:PORT, [IPV6]:PORT. HOST is a\n"
    "name, an IPv4 or an IPv6 address; PORT a number or a name of the services database.\n"
    "Without them, RAZIVU_HOST (default 127.0.0.1) and RAZIVU_PORT name the server.\n"
    "\n"
    "Each ARG is one field of the call:\n"
    "  s:TEXT    a string; s:null is the null string\n"
    "  s:\\null   the four letters null (one backslash before null is dropped)\n"
    "  i:N       an integer, -999999 to 9999999\n"
    "  b:N       a boolean, 0 to 9\n"
    "  a:HEX     a byte array as pairs of hex digits; a:null is the null array\n"
    "--args FILE adds ARGs written the same way, one a line, after those given here.\n"
    "\n"
    "The reply is printed one field per line as it arrives, return codes with their text:\n"
    "  $ razivu call 127.0.0.1:7000 Echo s:abc i:42\n"
    "  return   10 (Call was successful.)\n"
    "  string   \"abc\"\n"
    "  integer  42\n"
    "The replies of the functions of razivu serve have a known number of fields; for any\n"
    "other function the reply is read until the server closes the connection or sends\n"
    "nothing more for a second.\n"
    "\n"
    "Texts are bytes on the wire. --encoding says which characters they are: utf-8 (the\n"
    "default) or cp1252, the code page of Western Windows peers; texts of the call are sent\n"
    "in it, texts of the reply are read in it. On a terminal every control character and\n"
    "every byte that is no character is shown as an escape (\\x1b, \\u{9b}).\n"
    "\n"
    "With --json the output is one document: server, function, encoding, the fields (each\n"
    "with its offset, kind and value; a text's value is its characters and \"hex\" its\n"
    "bytes, a byte array's value is hex with its length), return_code and error (null, or\n"
    "the message below).\n"
    "\n"
    "Exit status: 0 for return code 10, 1 for another code, 2 for a bad command line or a\n"
    "value the wire format cannot carry, 3 when the connection or the reply failed, 4 when\n"
    "--timeout passed.",
    options,
    Operands::none};

int cmd_call(int argc, char **argv) {
    Args args;
    Request r;
    if (!parse_args(call_help, argc, argv, 1, INT_MAX, args) || !parse_request(args, r)) {
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
    return run_call(r);
}

}  // namespace razivu_tool
