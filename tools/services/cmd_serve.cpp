// razivu serve: the command line of the server (server/server.h), for
// production use. It reads the options into a Config and words what the
// server reports in the terms of the command line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"
#include "server/server.h"

namespace razivu_tool {

namespace {

const Option serve_options[] = {
    {"--port", nullptr, "N",
     "listen on port N; with a SERVICE, N is the port when the services database lacks it"},
    {"--bind", nullptr, "ADDR", "IPv4 address to listen on (default 0.0.0.0, every interface)"},
    {"--backlog", nullptr, "N", "connections the system queues before the server takes them (128)"},
    {"--workers", nullptr, "N", "connections served at once, each by a worker process (32)"},
    {"--per-address", nullptr, "N",
     "workers one client address may hold (a quarter of --workers); IPv6 clients count by their /64"},
    {"--call-time", nullptr, "SECONDS",
     "time each call may take from its first byte until it is answered; a slower client is cut (10)"},
    {"--idle", nullptr, "SECONDS",
     "time a connection may stay silent, before its first call and between calls (30)"},
    {"--quiet", nullptr, nullptr, "no line on standard error for connections that end normally"},
    {"--inetd", nullptr, nullptr,
     "standard input is the socket: listening (inetd wait) or one connection (nowait)"},
};

}  // namespace

// The help of `razivu serve`, beside the options it describes.
const Help serve_help{
    "serve",
    "SERVICE | --port N | SERVICE --port N",
    "run a server for old clients: Echo and the calendar functions",
    "Serves calls over TCP, each connection in a worker process of its own. Without SERVICE\n"
    "or --port the socket comes from systemd (LISTEN_FDS) or, with --inetd, from inetd.\n"
    "\n"
    "Functions (arguments -> reply fields); a call ends where the next function name\n"
    "begins, so a connection may carry any number of calls:\n"
    "  Echo (any fields)                        -> r 10, every argument echoed\n"
    "  VIZIIsLeapYear (i year)                  -> r 10, i 1 or 0\n"
    "  VIZIIsDateValid (i day, i month, i year) -> r 10, i 1 or 0\n"
    "  VIZIGetDaysSince1900 (i day, i month, i year)\n"
    "                                           -> r 10, i day number; r 22 alone past 7 digits\n"
    "  VIZIGetDMYFromDaysSince1900 (i days)     -> r 10, i status, i day, i month, i year\n"
    "  a calendar function given a non-integer  -> r 20 alone, at once\n"
    "  a calendar function given too few arguments\n"
    "                                           -> r 20 alone, once the next call begins,\n"
    "                                              the client half-closes or is quiet 0.5 s\n"
    "  any other name                           -> r 61; its arguments are ignored\n"
    "\n"
    "Every connection is taken at once. While a worker is free it is served at once; when\n"
    "the workers and the connections waiting for one reach --workers, the server is under\n"
    "pressure and defends itself, however many addresses the connections come from:\n"
    "  - a connection gets a worker only once its call has begun to arrive;\n"
    "  - the silence allowed before the first byte and between calls is cut to a tenth of\n"
    "    --idle (at least 1 s);\n"
    "  - a connection whose call has begun makes room: the worker idle between calls the\n"
    "    longest, or slowest to complete its call, is closed (never one younger than 0.25 s);\n"
    "  - waiting connections are served first from the addresses that hold the fewest\n"
    "    workers, then from those served longest ago.\n"
    "An address at its --per-address share is refused while a worker is free for others.\n"
    "\n"
    "SIGTERM or SIGINT stops taking connections: the calls begun are finished and answered\n"
    "(within --call-time), connections between calls are closed, and the server ends. A\n"
    "second SIGTERM or SIGINT cuts what is left at once.\n"
    "\n"
    "Each connection ends with a line on standard error. One that ends in trouble (cut, not\n"
    "a call, the client gone in mid-call, refused, closed to make room) also has a WARNING\n"
    "entry in the log errstack.txt; at most ten a minute of each kind are written, and a\n"
    "line says how many more there were. Nothing a client sends adds an error entry. Lines\n"
    "that standard error cannot take at once are left out and counted the same way.",
    serve_options,
    Operands::none};

namespace {

constexpr int64_t max_workers = 1024;
constexpr int64_t max_backlog = 65535;
constexpr int64_t ms_per_second = 1000;
// Limits are kept in milliseconds in an int32_t.
constexpr int64_t max_seconds = INT32_MAX / ms_per_second;

// The options as given: 0 and nullptr for those that were not, which the
// server then fills with its defaults.
struct Options {
    const char *service = nullptr;  // a name of the services database
    int64_t port = 0;               // the port, or the fall-back for service
    const char *bind = nullptr;
    int64_t backlog = 0;
    int64_t workers = 0;
    int64_t per_address = 0;
    int64_t call_seconds = 0;
    int64_t idle_seconds = 0;
    bool quiet = false;
    bool inetd = false;
};

struct NumberOption {
    const char *name;
    int64_t Options::*value;
    int64_t min;
    int64_t max;
};

constexpr NumberOption number_options[] = {
    {"--port", &Options::port, 1, max_port},
    {"--backlog", &Options::backlog, 1, max_backlog},
    {"--workers", &Options::workers, 1, max_workers},
    {"--per-address", &Options::per_address, 1, max_workers},
    {"--call-time", &Options::call_seconds, 1, max_seconds},
    {"--idle", &Options::idle_seconds, 1, max_seconds},
};

// arg is the word at fault; nullptr when it is missing.
bool usage_error(const char *what, const char *arg) {
    razivu_tool::usage_error(serve_help, std::string(what) + (arg != nullptr ? " " : "") +
                                             (arg != nullptr ? arg : ""));
    return false;
}

// One option at argv[i]; i moves past its value. False after a message.
bool parse_option(int argc, char **argv, int &i, Options &o) {
    const std::string arg = argv[i];
    const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
    for (const NumberOption &n : number_options) {
        if (arg == n.name) {
            ++i;
            return parse_integer(next, n.min, n.max, o.*n.value) ||
                   usage_error("bad or missing number for", n.name);
        }
    }
    if (arg == "--bind") {
        ++i;
        o.bind = next;
        return serve::is_ipv4_address(next) ||
               usage_error("--bind takes an IPv4 address such as 127.0.0.1, not", next);
    }
    bool *flag = arg == "--quiet" ? &o.quiet : arg == "--inetd" ? &o.inetd : nullptr;
    if (flag != nullptr) {
        *flag = true;
        return true;
    }
    if (arg[0] != '-' && o.service == nullptr) {
        o.service = argv[i];
        return true;
    }
    return usage_error("bad option", argv[i]);
}

// A worker started afresh (Windows) runs this command with the options
// that bear on a connection.
std::vector<std::string> worker_args(const Options &o) {
    std::vector<std::string> args{serve_help.name};
    if (o.call_seconds != 0) {
        args.insert(args.end(), {"--call-time", std::to_string(o.call_seconds)});
    }
    if (o.idle_seconds != 0) {
        args.insert(args.end(), {"--idle", std::to_string(o.idle_seconds)});
    }
    if (o.quiet) {
        args.emplace_back("--quiet");
    }
    return args;
}

serve::Config config_of(const Options &o) {
    serve::Config c;
    c.service = o.service;
    c.port = static_cast<int32_t>(o.port);
    c.bind = o.bind;
    c.backlog = static_cast<int32_t>(o.backlog);
    c.inetd = o.inetd;
    c.workers = static_cast<int32_t>(o.workers);
    c.per_address = static_cast<int32_t>(o.per_address);
    c.call_ms = static_cast<int32_t>(o.call_seconds * ms_per_second);
    c.idle_ms = static_cast<int32_t>(o.idle_seconds * ms_per_second);
    c.quiet = o.quiet;
    c.worker_args = worker_args(o);
    return c;
}

}  // namespace

int cmd_serve(int argc, char **argv) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        if (!parse_option(argc, argv, i, o)) {
            return exit_usage;
        }
    }
    switch (serve::run(config_of(o))) {
    case serve::Outcome::ended: return exit_ok;
    case serve::Outcome::failed: return exit_failed;
    case serve::Outcome::unknown_service:
        std::fprintf(stderr,
                     "razivu serve: cannot listen: service '%s' is not in the services database"
                     " (add --port N to use port N instead)\n",
                     o.service);
        return exit_failed;
    case serve::Outcome::socket_twice:
        return razivu_tool::usage_error(
            serve_help, "the socket is passed in; SERVICE, --port, --bind and --backlog do not apply");
    case serve::Outcome::no_socket: return razivu_tool::usage_error(serve_help, "give a SERVICE or --port N");
    }
    return exit_failed;
}

}  // namespace razivu_tool
