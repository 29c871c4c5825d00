// The server, whole: what to listen on, the limits and the caller's handler
// go in, and it serves until a stop is asked for.
//
// The listening process takes every connection and hands it to a worker
// process of its own (listener.h, platform/serving.h); the worker serves
// calls (serve_connection.h) with the handler. Slow clients cannot starve
// the rest: each call must be complete within a time from its first byte, a
// silent connection is closed, one client address may hold only part of the
// workers, and when every worker is taken the least productive makes room
// for a client whose call has begun (admission.h). A first SIGTERM or SIGINT
// (or razivu_server_stop) lets the calls under way finish, a second cuts
// them. The socket may also come from systemd or inetd.
//
// Nothing here knows a command line or the C interface: api.cpp fills a
// Config, and a front-end words what run() reports in its own terms.
#pragma once

#include <atomic>
#include <cstdint>

#include "server/serve_connection.h"

namespace razivu::server {

// Every field left 0 (nullptr, false) takes its default.
struct Config {
    const char *name = nullptr;  // the server's lines and entries begin with it; default "razivu server"
    // Where to listen. All are left unset when the socket is passed in.
    const char *service = nullptr;  // a name of the services database
    int32_t port = -1;              // -1: none; 0: one the system picks; with service, used when the database lacks it
    const char *bind = nullptr;     // a dotted IPv4 address (platform::net::parse_ipv4); default every interface
    int32_t backlog = 0;            // connections the system queues while workers are busy; default 128

    bool inetd = false;       // standard input is the socket: listening (inetd wait) or one connection
    int32_t workers = 0;      // connections served at once; default 32
    int32_t per_address = 0;  // workers (and waiting connections) one client address may
                              // hold; default a quarter of workers. IPv6 counts by /64.
    int32_t call_ms = 0;      // from a call's first byte until it is answered; default 10 s
    int32_t idle_ms = 0;      // silence between calls before a connection is closed; default 30 s
    bool quiet = false;       // lines on standard error only for connections that end in trouble

    Handler handler{};                            // serves each call
    const std::atomic<int32_t> *stops = nullptr;  // stops asked for from outside (razivu_server_stop)
    std::atomic<int32_t> *port_out = nullptr;     // the port listened on, once it is
};

enum class Outcome {
    ended,            // stopped, or the one passed-in connection was served
    failed,           // no socket to serve, or the listening socket failed; said on standard error
    unknown_service,  // service is not in the services database, and no port was given
    socket_twice,     // a socket was passed in, and the Config names one as well
    no_socket,        // no socket was passed in, and the Config names no service or port
    busy,             // another server runs in this process
};

// Serves as config says, on a socket passed in by systemd, inetd or the
// listening process (a worker on Windows), or on one it opens. Returns when
// the server stops, or at once when it cannot start, with every process-wide
// setting it changed put back (platform::workers::finish()).
Outcome run(const Config &config);

}  // namespace razivu::server
