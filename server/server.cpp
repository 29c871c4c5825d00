// The server's life from the socket to the stop: see server.h.
#include "server/server.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/serving.h"
#include "razivu/razivu.h"
#include "server/board.h"
#include "server/listener.h"
#include "server/self.h"
#include "server/serve_connection.h"
#include "server/serve_log.h"

namespace razivu::server {
namespace {

namespace net = platform::net;
namespace workers = platform::workers;
namespace activation = platform::activation;

constexpr int32_t default_workers = 32;
// By default one address may hold a quarter of the workers.
constexpr int32_t per_address_share = 4;
constexpr int32_t default_backlog = 128;
constexpr int32_t default_call_ms = 10000;
constexpr int32_t default_idle_ms = 30000;
constexpr const char *default_bind = "0.0.0.0";
constexpr const char *default_name = "razivu server";
// The status of a worker that has served its connection.
constexpr int worker_done = 0;

// Process-wide: the Config of the server that runs, with its defaults in
// place; workers read the limits, the handler and quiet, which they inherit
// or (on Windows) are given again by the program that starts once more.
Config settings;
// Only one server runs in a process at a time: the board, the signals and
// the workers are the process's.
std::atomic<bool> running{false};

// What the platform tells the server.
const workers::Hooks hooks{self::begin, self::look, self::stop_received, board::attach};

Config with_defaults(Config c) {
    c.name = c.name != nullptr ? c.name : default_name;
    c.bind = c.bind != nullptr ? c.bind : default_bind;
    c.backlog = c.backlog != 0 ? c.backlog : default_backlog;
    c.workers = std::min<int32_t>(c.workers != 0 ? c.workers : default_workers, board::max_slots);
    if (c.per_address == 0) {
        c.per_address = c.workers >= per_address_share ? c.workers / per_address_share : 1;
    }
    c.call_ms = c.call_ms != 0 ? c.call_ms : default_call_ms;
    c.idle_ms = c.idle_ms != 0 ? c.idle_ms : default_idle_ms;
    return c;
}

bool names_a_socket(const Config &c) {
    return c.service != nullptr || c.port >= 0 || c.bind != nullptr || c.backlog != 0;
}

// Says what went wrong on standard error.
void complain(const std::string &what) {
    std::fprintf(stderr, "%s: %s\n", settings.name, what.c_str());
}

// The worker's whole life.
int serve_connection(int32_t conn, const net::Peer &peer) {
    const Limits limits{settings.call_ms, settings.idle_ms};
    Record record(net::text(peer));
    const End end = serve_calls(conn, limits, settings.handler, record);
    report(record.line(ending_text(end, limits)), trouble_of(end), settings.quiet);
    return worker_done;
}

// The port to listen on, in network byte order; none when the service is
// unknown and no port was given. A service the database lacks falls back to
// the port with a note; it is looked up with PTgetservbyname first, which
// pushes nothing, so no error is logged for it.
std::optional<uint16_t> port_of(const Config &c, std::string &note) {
    if (c.service != nullptr && PTgetservbyname(c.service, "tcp") != nullptr) {
        return static_cast<uint16_t>(COMGetPortByName(c.service, "tcp"));
    }
    if (c.service != nullptr && c.port < 0) {
        return std::nullopt;
    }
    if (c.service != nullptr) {
        note = std::string("service '") + c.service +
               "' is not in the services database; listening on its default port " + std::to_string(c.port);
    }
    return PThtons(static_cast<uint16_t>(c.port));
}

// "a.b.c.d:port" of a listening socket, the port the system picked included.
std::string where_of(int32_t listening) {
    const net::Peer local = net::address_of(listening, net::Side::local);
    if (settings.port_out != nullptr) {
        *settings.port_out = local.port;
    }
    return net::text(local);
}

// -1 after saying why on standard error.
int32_t open_listening(uint16_t port) {
    uint32_t addr = 0;
    if (!net::parse_ipv4(settings.bind, addr)) {
        return -1;
    }
    // Before the socket exists: on Windows a PT wrapper ends the WinSock
    // session, and with it every socket, when one was started.
    std::string why;
    if (PTWSAStartup() != 0) {
        complain("cannot listen: WinSock cannot be started");
        return -1;
    }
    const int32_t s = net::listen_at(addr, port, settings.backlog, why);
    if (s < 0) {
        complain("cannot listen: " + why);
        PTWSACleanup();
    }
    return s;
}

// Serves until a stop is asked for.
Outcome run_server(int32_t listening, const std::string &where, const std::string &note) {
    std::string why;
    if (!workers::start(static_cast<std::size_t>(settings.workers), sizeof(board::Board), hooks, why)) {
        complain(why);
        return Outcome::failed;
    }
    // This process's first entry starts the log, before any worker exists:
    // workers then only append to it.
    if (!note.empty()) {
        log_entry(RAZIVU_LOG_PLAIN, "note: %s", note.c_str());
        complain("note: " + note);
    }
    log_entry(RAZIVU_LOG_PLAIN, "listening on %s, up to %d workers, %d per address", where.c_str(),
              static_cast<int>(settings.workers), static_cast<int>(settings.per_address));
    std::printf("%s: listening on %s, up to %d workers, %d per address\n", settings.name, where.c_str(),
                static_cast<int>(settings.workers), static_cast<int>(settings.per_address));
    std::fflush(stdout);
    net::set_blocking(listening, false);
    const ListenerConfig config{static_cast<std::size_t>(settings.workers),
                                static_cast<std::size_t>(settings.per_address), settings.call_ms,
                                settings.idle_ms, settings.quiet};
    const Stopped stopped = listen_and_serve(listening, config, serve_connection);
    PTWSACleanup();
    if (stopped == Stopped::listening_failed) {
        log_entry(RAZIVU_LOG_ERROR, "the listening socket failed; stopped");
        complain("the listening socket failed; stopped");
        return Outcome::failed;
    }
    const char *signal = workers::stop_signal();
    log_entry(RAZIVU_LOG_PLAIN, "stopped by %s", signal[0] != '\0' ? signal : "razivu_server_stop");
    std::printf("%s: stopped\n", settings.name);
    std::fflush(stdout);
    return Outcome::ended;
}

// A connection the service manager accepted (every connection is then a
// process of its own), or on Windows one the listening process handed over.
// The first log entry of a process empties its file, so it goes to a file
// of its own, and the log the processes share only grows.
Outcome serve_one(int32_t conn) {
    const net::Peer peer = net::address_of(conn, net::Side::peer);
    WriteLog(connection_log, GetVersionString(), RAZIVU_LOG_PLAIN, "%s: connection from %s", settings.name,
             net::text(peer).c_str());
    const int status = workers::serve_here(conn, peer, serve_connection, sizeof(board::Board), hooks);
    if (!board::shared()) {
        summarise(true);  // a worker's board is the listening process's to sum up
    }
    return status == worker_done ? Outcome::ended : Outcome::failed;
}

// config as the caller gave it, without the defaults.
Outcome serve(const Config &config) {
    const bool inetd = config.inetd;
    activation::Passed passed = activation::from_systemd();
    if (passed.kind == activation::Kind::none && inetd) {
        passed = activation::from_inetd();
    }
    if (passed.kind == activation::Kind::unusable) {
        complain(passed.why);
        return Outcome::failed;
    }
    if (passed.handed) {
        return serve_one(passed.socket);
    }
    const bool passed_in = passed.kind != activation::Kind::none;
    if (passed_in && names_a_socket(config)) {
        return Outcome::socket_twice;
    }
    // An address or backlog alone would listen on a port the system picks,
    // which no client could know.
    if (!passed_in && config.service == nullptr && config.port < 0) {
        return Outcome::no_socket;
    }
    COMGetTraceFile();  // decided once here, so the workers share it
    if (passed.kind == activation::Kind::connection) {
        return serve_one(passed.socket);
    }
    if (passed.kind == activation::Kind::listening) {
        const std::string where = where_of(passed.socket) + (inetd ? " (from inetd)" : " (from systemd)");
        return run_server(passed.socket, where, {});
    }
    std::string note;
    const std::optional<uint16_t> port = port_of(settings, note);
    if (!port) {
        return Outcome::unknown_service;
    }
    const int32_t listening = open_listening(*port);
    return listening >= 0 ? run_server(listening, where_of(listening), note) : Outcome::failed;
}

}  // namespace

int stop_requests() {
    return workers::stop_requests() + (settings.stops != nullptr ? settings.stops->load() : 0);
}

// Whatever ends the run, an exception included, the process is left as it was.
Outcome run(const Config &config) {
    if (running.exchange(true)) {
        return Outcome::busy;
    }
    struct Cleanup {
        ~Cleanup() {
            board::detach();
            workers::finish();
            if (settings.port_out != nullptr) {
                *settings.port_out = 0;
            }
            settings = Config{};
            running = false;
        }
    } cleanup;
    settings = with_defaults(config);
    set_name(settings.name);
    return serve(config);
}

}  // namespace razivu::server
