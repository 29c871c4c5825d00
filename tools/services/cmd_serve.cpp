// razivu serve: a server for the library's calls, for production use.
//
// The listening process accepts and hands each connection to a worker
// process of its own (workers.h); the worker serves calls (serve_connection.h)
// with the functions of serve_calls.h. Slow clients cannot starve the rest:
// a call must be complete within a time from its first byte, a silent
// connection is closed, and one client address may hold only part of the
// workers. The socket may also come from systemd or inetd (activation.h).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"
#include "server/activation.h"
#include "server/net.h"
#include "server/serve_connection.h"
#include "server/serve_log.h"
#include "server/workers.h"

namespace razivu_tool {

namespace {

const Option serve_options[] = {
    {"--port", nullptr, "N",
     "listen on port N; with a SERVICE, N is the port when the services database lacks it"},
    {"--bind", nullptr, "ADDR", "IPv4 address to listen on (default 0.0.0.0, every interface)"},
    {"--backlog", nullptr, "N", "connections the system queues while workers are busy (128)"},
    {"--workers", nullptr, "N", "connections served at once, each by a worker process (32)"},
    {"--per-address", nullptr, "N", "workers one client address may hold (a quarter of --workers)"},
    {"--call-time", nullptr, "SECONDS",
     "time a call may take from its first byte until it is answered; a slower client is cut (10)"},
    {"--idle", nullptr, "SECONDS", "time a connection may stay silent between calls (30)"},
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
    "  a calendar function given a non-integer or too few arguments\n"
    "                                           -> r 20 alone, at once\n"
    "  any other name                           -> r 61; its arguments are ignored\n"
    "\n"
    "SIGTERM or SIGINT stops the server.",
    serve_options,
    Operands::none};

namespace {

constexpr int64_t default_workers = 32;
constexpr int64_t max_workers = 1024;
// By default one address may hold a quarter of the workers.
constexpr int64_t per_address_share = 4;
constexpr int64_t default_backlog = 128;
constexpr int64_t max_backlog = 65535;
constexpr int64_t default_call_seconds = 10;
constexpr int64_t default_idle_seconds = 30;
constexpr int32_t ms_per_second = 1000;
// Limits are kept in milliseconds in an int32_t.
constexpr int64_t max_seconds = INT32_MAX / ms_per_second;
// Where a process serving one connection only writes its first log entry.
constexpr const char *connection_log = "serve-connection.txt";

struct Options {
    const char *service = nullptr;  // a name of the services database
    int64_t port = 0;               // the port, or the fall-back for service
    const char *bind = "0.0.0.0";
    bool bind_given = false;
    int64_t backlog = default_backlog;
    bool backlog_given = false;
    int64_t workers = default_workers;
    int64_t per_address = 0;  // 0: a share of workers
    int64_t call_seconds = default_call_seconds;
    int64_t idle_seconds = default_idle_seconds;
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

// Process-wide settings, read by serve_connection in the workers.
struct Settings {
    serve::Limits limits{};  // the call and idle times
    bool quiet = false;  // lines only for connections that end in trouble
};
Settings settings;

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
            o.backlog_given = o.backlog_given || arg == "--backlog";
            return parse_integer(next, n.min, n.max, o.*n.value) ||
                   usage_error("bad or missing number for", n.name);
        }
    }
    if (arg == "--bind") {
        ++i;
        uint32_t addr = 0;
        o.bind = next;
        o.bind_given = true;
        return net::parse_ipv4(next, addr) || usage_error("--bind takes an IPv4 address such as 127.0.0.1, not", next);
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

std::optional<Options> parse_options(int argc, char **argv) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        if (!parse_option(argc, argv, i, o)) {
            return std::nullopt;
        }
    }
    if (o.per_address == 0) {
        o.per_address = o.workers >= per_address_share ? o.workers / per_address_share : 1;
    }
    return o;
}

bool names_a_socket(const Options &o) {
    return o.service != nullptr || o.port != 0 || o.bind_given || o.backlog_given;
}

// The worker's whole life.
int serve_connection(int32_t conn, const net::Peer &peer) {
    serve::Record record(net::text(peer));
    const serve::End end = serve::serve_calls(conn, settings.limits, record);
    if (end == serve::End::cut) {
        // The read or send it interrupted has left an error entry; this says why.
        serve::log_entry(RAZIVU_LOG_WARNING, "razivu serve: %s %s", net::text(peer).c_str(),
                         serve::ending_text(end, settings.limits).c_str());
    }
    if (!settings.quiet || (end != serve::End::closed && end != serve::End::idle)) {
        net::write_line(record.line(serve::ending_text(end, settings.limits)));
    }
    return exit_ok;
}

// The port to listen on, in network byte order. A service the database
// lacks falls back to --port with a note; it is looked up with
// PTgetservbyname first, which pushes nothing, so no error is logged for it.
std::optional<uint16_t> port_of(const Options &o, std::string &note) {
    if (o.service != nullptr && PTgetservbyname(o.service, "tcp") != nullptr) {
        return static_cast<uint16_t>(COMGetPortByName(o.service, "tcp"));
    }
    if (o.service != nullptr && o.port == 0) {
        std::fprintf(stderr,
                     "razivu serve: cannot listen: service '%s' is not in the services database"
                     " (add --port N to use port N instead)\n",
                     o.service);
        return std::nullopt;
    }
    if (o.service != nullptr) {
        note = std::string("service '") + o.service +
               "' is not in the services database; listening on its default port " +
               std::to_string(o.port);
    }
    return PThtons(static_cast<uint16_t>(o.port));
}

int32_t open_listening(const Options &o, std::string &where, std::string &note) {
    const std::optional<uint16_t> port = port_of(o, note);
    uint32_t addr = 0;
    if (!port || !net::parse_ipv4(o.bind, addr)) {
        return -1;
    }
    // Before the socket exists: on Windows a PT wrapper ends the WinSock
    // session, and with it every socket, when one was started.
    where = std::string(o.bind) + ":" + std::to_string(PTntohs(*port));
    std::string why;
    const int32_t s = net::listen_at(addr, *port, static_cast<int32_t>(o.backlog), why);
    if (s < 0) {
        std::fprintf(stderr, "razivu serve: cannot listen: %s\n", why.c_str());
    }
    return s;
}

// Accepts until a stop is asked for. Returns the exit status.
int run_server(int32_t listening, const Options &o, const std::string &where,
               const std::string &note) {
    // This process's first entry starts the log, before any worker exists:
    // workers then only append to it.
    if (!note.empty()) {
        serve::log_entry(RAZIVU_LOG_PLAIN, "razivu serve: note: %s", note.c_str());
        std::fprintf(stderr, "razivu serve: note: %s\n", note.c_str());
    }
    serve::log_entry(RAZIVU_LOG_PLAIN, "razivu serve: listening on %s, up to %d workers, %d per address",
                     where.c_str(), static_cast<int>(o.workers), static_cast<int>(o.per_address));
    std::printf("razivu serve: listening on %s, up to %d workers, %d per address\n", where.c_str(),
                static_cast<int>(o.workers), static_cast<int>(o.per_address));
    std::fflush(stdout);
    workers::start(static_cast<int>(o.workers));
    while (workers::wait_for_connection(listening)) {
        const int32_t conn = COMWaitForConnectingSock(listening);
        if (conn < 0) {
            workers::rest();
            continue;
        }
        const net::Peer peer = net::address_of(conn, net::Side::peer);
        const int serving = workers::serving(peer.addr);
        if (serving >= o.per_address) {
            net::write_line(serve::refusal_line(net::text(peer), serving));
            COMCloseSock(conn);
            continue;
        }
        workers::spawn(listening, conn, peer, serve_connection);
    }
    workers::stop_all();
    COMCloseSock(listening);
    PTWSACleanup();
    const char *signal = workers::stop_signal();
    if (signal[0] == '\0') {
        serve::log_entry(RAZIVU_LOG_ERROR, "razivu serve: the listening socket failed; stopped");
        std::fprintf(stderr, "razivu serve: the listening socket failed; stopped\n");
        return exit_failed;
    }
    serve::log_entry(RAZIVU_LOG_PLAIN, "razivu serve: stopped by %s", signal);
    std::printf("razivu serve: stopped\n");
    return exit_ok;
}

// A connection the service manager accepted: every connection is then a
// process of its own. The first log entry of a process empties its file, so
// it goes to a file of its own, and the log the processes share only grows.
int serve_one(int32_t conn) {
    const net::Peer peer = net::address_of(conn, net::Side::peer);
    WriteLog(connection_log, GetVersionString(), RAZIVU_LOG_PLAIN, "razivu serve: connection from %s",
             net::text(peer).c_str());
    return workers::serve_here(conn, peer, serve_connection);
}

}  // namespace

int cmd_serve(int argc, char **argv) {
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        return exit_usage;
    }
    settings.limits = {static_cast<int32_t>(options->call_seconds * ms_per_second),
                       static_cast<int32_t>(options->idle_seconds * ms_per_second)};
    settings.quiet = options->quiet;
    const activation::Passed passed =
        options->inetd ? activation::from_inetd() : activation::from_systemd();
    if (passed.kind == activation::Kind::unusable) {
        std::fprintf(stderr, "razivu serve: %s\n", passed.why.c_str());
        return exit_failed;
    }
    if ((passed.kind != activation::Kind::none) == names_a_socket(*options)) {
        usage_error(passed.kind != activation::Kind::none
                        ? "the socket is passed in; SERVICE, --port, --bind and --backlog do not apply"
                        : "give a SERVICE or --port N",
                    nullptr);
        return exit_usage;
    }
    COMGetTraceFile();  // decided once here, so the workers share it
    if (passed.kind == activation::Kind::connection) {
        return serve_one(passed.socket);
    }
    std::string where;
    std::string note;
    const int32_t listening = passed.kind == activation::Kind::listening
                                  ? passed.socket
                                  : open_listening(*options, where, note);
    if (passed.kind == activation::Kind::listening) {
        where = net::text(net::address_of(listening, net::Side::local)) + (options->inetd ? " (from inetd)" : " (from systemd)");
    }
    if (listening < 0) {
        return exit_failed;
    }
    return run_server(listening, *options, where, note);
}

}  // namespace razivu_tool
