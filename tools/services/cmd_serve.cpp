// razivu serve: the command line of the library's server (razivu/server.h),
// for production use. It sets the options on a server, picks the module
// that serves the calls (services/module.h), and words what the server
// reports in the terms of the command line.
#include <cstdint>
#include <cstdio>
#include <string>

#include <razivu/razivu.h>
#include <razivu/server.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"
#include "services/module.h"

namespace razivu_tool {

namespace {

const Option serve_options[] = {
    {"--port", nullptr, "N",
     "listen on port N (0: a free port, which the first line names); with a SERVICE, N is the port when the "
     "services database lacks it"},
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
    {"--module", nullptr, "PATH",
     "serve the functions of the shared object PATH (razivu_module_call) instead of the built-in ones"},
};

}  // namespace

// The help of `razivu serve`, beside the options it describes.
const Help serve_help{
    "serve",
    "SERVICE | --port N | SERVICE --port N",
    "run a server for old clients: Echo and the calendar functions, or a module's",
    "Serves calls over TCP, each connection in a worker process of its own. Without SERVICE\n"
    "or --port the socket comes from systemd (LISTEN_FDS) or, with --inetd, from inetd.\n"
    "\n"
    "Functions (arguments -> reply fields); a call's arguments end where the next function\n"
    "name begins, the client closes its side or sends nothing for 0.5 s, so a connection may\n"
    "carry any number of calls:\n"
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
    "--module PATH serves the functions of a shared object (a DLL on Windows) instead: it\n"
    "exports int32_t razivu_module_call(const char *function), which decodes the arguments,\n"
    "packs and sends the reply and returns 0, or 61 for a function it does not know (the\n"
    "server then answers r 61); any other return ends the connection. An optional\n"
    "int32_t razivu_module_init(void) runs first: non-zero refuses the start.\n"
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
    "Each connection ends with a line on standard error, with its time in ISO 8601 (UTC).\n"
    "One that ends in trouble (cut, not a call, the client gone in mid-call, a call failed,\n"
    "refused, closed to make room) also has a WARNING entry in the log errstack.txt; at most\n"
    "ten a minute of each kind are written, and a line says how many more there were.\n"
    "Nothing a client sends adds an error entry. Lines that standard error cannot take at\n"
    "once are left out and counted the same way.",
    serve_options,
    Operands::none};

namespace {

constexpr int64_t max_workers = 1024;
constexpr int64_t max_backlog = 65535;
constexpr int64_t ms_per_second = 1000;
// Limits are kept in milliseconds in an int32_t.
constexpr int64_t max_seconds = INT32_MAX / ms_per_second;
constexpr const char *server_name = "razivu serve";

// The options as given: those that were not are left to the server's defaults.
struct Options {
    const char *service = nullptr;  // a name of the services database
    const char *bind = nullptr;
    const char *module = nullptr;   // the module's path; the built-in one when none
    bool quiet = false;
    bool inetd = false;
    int64_t numbers[6] = {-1, -1, -1, -1, -1, -1};  // by number_options; -1: not given
};

// A number option, the server's option it sets and how its value is scaled.
struct NumberOption {
    const char *name;
    int32_t option;
    int64_t min;
    int64_t max;
    int64_t scale;
};

constexpr NumberOption number_options[] = {
    {"--port", RAZIVU_SERVER_PORT, 0, max_port, 1},
    {"--backlog", RAZIVU_SERVER_BACKLOG, 1, max_backlog, 1},
    {"--workers", RAZIVU_SERVER_WORKERS, 1, max_workers, 1},
    {"--per-address", RAZIVU_SERVER_PER_ADDRESS, 1, max_workers, 1},
    {"--call-time", RAZIVU_SERVER_CALL_MS, 1, max_seconds, ms_per_second},
    {"--idle", RAZIVU_SERVER_IDLE_MS, 1, max_seconds, ms_per_second},
};
static_assert(std::size(number_options) == std::size(Options{}.numbers));

// arg is the word at fault; nullptr when it is missing.
bool usage_error(const char *what, const char *arg) {
    razivu_tool::usage_error(serve_help, std::string(what) + (arg != nullptr ? " " : "") +
                                             (arg != nullptr ? arg : ""));
    return false;
}

bool is_ipv4_address(const char *text) {
    RazivuServer *probe = razivu_server_new();
    const bool ok = probe != nullptr && razivu_server_set_text(probe, RAZIVU_SERVER_BIND, text) == RAZIVU_SERVER_OK;
    razivu_server_free(probe);
    return ok;
}

// One option at argv[i]; i moves past its value. False after a message.
bool parse_option(int argc, char **argv, int &i, Options &o) {
    const std::string arg = argv[i];
    const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
    for (std::size_t n = 0; n < std::size(number_options); ++n) {
        if (arg == number_options[n].name) {
            ++i;
            return parse_integer(next, number_options[n].min, number_options[n].max, o.numbers[n]) ||
                   usage_error("bad or missing number for", number_options[n].name);
        }
    }
    if (arg == "--bind" || arg == "--module") {
        ++i;
        (arg == "--bind" ? o.bind : o.module) = next;
        return next == nullptr ? usage_error("missing value for", argv[i - 1])
               : arg == "--module" || is_ipv4_address(next)
                   ? true
                   : usage_error("--bind takes an IPv4 address such as 127.0.0.1, not", next);
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

// Every value was checked as it was read, so the server takes them all.
void configure(RazivuServer *server, const Options &o) {
    razivu_server_set_text(server, RAZIVU_SERVER_NAME, server_name);
    razivu_server_set_text(server, RAZIVU_SERVER_SERVICE, o.service);
    razivu_server_set_text(server, RAZIVU_SERVER_BIND, o.bind);
    for (std::size_t n = 0; n < std::size(number_options); ++n) {
        if (o.numbers[n] >= 0) {
            razivu_server_set_number(server, number_options[n].option,
                                     static_cast<int32_t>(o.numbers[n] * number_options[n].scale));
        }
    }
    razivu_server_set_number(server, RAZIVU_SERVER_QUIET, o.quiet ? 1 : 0);
    razivu_server_set_number(server, RAZIVU_SERVER_SOCKET_FROM,
                             o.inetd ? RAZIVU_SERVER_FROM_INETD : RAZIVU_SERVER_FROM_SYSTEMD);
}

// What the server's handler is given: the module's call.
struct Serving {
    module::CallFn call;
};

int32_t handle_call(const char *function, void *serving) {
    return static_cast<const Serving *>(serving)->call(function);
}

// The module's call, or nullptr after saying why it cannot serve.
module::CallFn module_of(const Options &o) {
    if (o.module == nullptr) {
        return module::builtin_call;
    }
    const module::Loaded loaded = module::load(o.module);
    if (loaded.call == nullptr) {
        std::fprintf(stderr, "%s: cannot load the module: %s\n", server_name, loaded.why.c_str());
        return nullptr;
    }
    const int32_t rc = loaded.init != nullptr ? loaded.init() : 0;
    if (rc != 0) {
        ErrorRecord rec{};
        const bool said = COMPopError(&rec) != 0 && rec.text != nullptr;
        std::fprintf(stderr, "%s: the module %s refused to start: razivu_module_init returned %d%s%s\n",
                     server_name, o.module, static_cast<int>(rc), said ? ": " : "", said ? rec.text : "");
        return nullptr;
    }
    return loaded.call;
}

int outcome(int32_t rc, const Options &o) {
    switch (rc) {
    case RAZIVU_SERVER_OK: return exit_ok;
    case RAZIVU_SERVER_E_NO_SERVICE:
        std::fprintf(stderr,
                     "%s: cannot listen: service '%s' is not in the services database"
                     " (add --port N to use port N instead)\n",
                     server_name, o.service);
        return exit_failed;
    case RAZIVU_SERVER_E_SOCKET_TWICE:
        return razivu_tool::usage_error(
            serve_help, "the socket is passed in; SERVICE, --port, --bind and --backlog do not apply");
    case RAZIVU_SERVER_E_NO_SOCKET: return razivu_tool::usage_error(serve_help, "give a SERVICE or --port N");
    default: return exit_failed;
    }
}

}  // namespace

int cmd_serve(int argc, char **argv) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        if (!parse_option(argc, argv, i, o)) {
            return exit_usage;
        }
    }
    const module::CallFn call = module_of(o);
    RazivuServer *server = call != nullptr ? razivu_server_new() : nullptr;
    if (server == nullptr) {
        return exit_failed;
    }
    configure(server, o);
    Serving serving{call};
    const int32_t rc = razivu_server_run(server, handle_call, &serving);
    razivu_server_free(server);
    return outcome(rc, o);
}

}  // namespace razivu_tool
