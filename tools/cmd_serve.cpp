// razivu serve SERVICE | --port N [--workers N] [--idle SECONDS]
//
// A demonstration server: answers Echo, the calendar functions and, with
// code 61, everything else (serve_calls.h has the protocol). Each connection
// is served by a worker process of its own; a connection may carry any
// number of calls. Reply fields are sent as soon as nothing more of the
// client's is waiting, so a client never waits on the server guessing where
// a call ends. A client that sends something that is not a field, or stalls
// in the middle of one, is disconnected; the server carries on.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "commands.h"
#include "fields.h"
#include "numbers.h"
#include "serve_calls.h"
#include "workers.h"

namespace razivu_tool {
namespace {

constexpr int default_workers = 32;
constexpr int max_workers = 1024;
// A connection that stays silent this long between fields is closed.
constexpr int32_t default_idle_seconds = 30;
// A field that stops arriving midway ends the connection after this long.
constexpr int stall_seconds = 10;
// How long the listening process waits for a client before it looks for a
// stop request again.
constexpr int32_t accept_wait_seconds = 1;
// Reply fields held back while the client keeps sending; then they go out.
constexpr std::size_t max_held_fields = 64;

const char *const usage_text =
    "usage: razivu serve SERVICE|--port N [--workers N] [--idle SECONDS]\n";

struct Options {
    const char *service = nullptr;  // a name of the services database
    long port = 0;                  // or a port, when service is null
    int workers = default_workers;
    int32_t idle = default_idle_seconds;
};

// Process-wide settings of the worker, read by serve_connection.
int32_t idle_seconds = default_idle_seconds;

std::optional<Options> parse_options(int argc, char **argv) {
    Options o;
    int64_t value = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--port" && parse_integer(next, 1, max_port, value)) {
            o.port = value;
        } else if (arg == "--workers" && parse_integer(next, 1, max_workers, value)) {
            o.workers = static_cast<int>(value);
        } else if (arg == "--idle" && parse_integer(next, 1, INT32_MAX, value)) {
            o.idle = static_cast<int32_t>(value);
        } else if (arg[0] != '-' && o.service == nullptr) {
            o.service = argv[i];
            continue;
        } else {
            std::fprintf(stderr, "razivu serve: bad or incomplete option '%s'\n%s", argv[i],
                         usage_text);
            return std::nullopt;
        }
        ++i;
    }
    if ((o.service == nullptr) == (o.port == 0)) {
        std::fprintf(stderr, "razivu serve: give a SERVICE or --port N, not both\n%s",
                     usage_text);
        return std::nullopt;
    }
    return o;
}

// Sends the reply fields that are ready, in one message piece where they fit.
// False when one cannot be packed (a client may send texts of up to 999
// bytes, but a packed field carries at most 991): the reply would be wrong,
// so the connection ends instead.
bool flush(std::vector<Field> &reply) {
    if (reply.empty()) {
        return true;
    }
    ResetBuffer();
    for (const Field &f : reply) {
        if (pack(f) != 0) {
            return false;
        }
    }
    SendBuffer();
    reply.clear();
    return true;
}

// Waits for the client's next field; whatever is ready goes out first.
bool next_field(int32_t conn, std::vector<Field> &reply, Field &field) {
    if (COMPollSock(conn, 0) != RAZIVU_POLL_READABLE || reply.size() >= max_held_fields) {
        if (!flush(reply) || COMPollSock(conn, idle_seconds) != RAZIVU_POLL_READABLE) {
            return false;
        }
    }
    return read_field(conn, field) == ReadResult::field;
}

// Moves the reply fields the call has ready behind those waiting to be sent.
void take_reply(serve::Call &call, std::vector<Field> &reply) {
    std::vector<Field> &ready = call.reply();
    reply.insert(reply.end(), ready.begin(), ready.end());
    ready.clear();
}

// The worker's whole life: calls until the client leaves, stalls or sends
// something that is not a call.
int serve_connection(int32_t conn) {
    workers::limit_stalls(conn, stall_seconds);
    SetTransport(COMSend, COMReceive, conn);
    std::optional<serve::Call> call;
    std::vector<Field> reply;
    Field field;
    while (next_field(conn, reply, field)) {
        if (field.kind == Kind::function) {
            if (call) {
                call->finish();
                take_reply(*call, reply);
            }
            call.emplace(field.data);
        } else if (call) {
            call->add(field);
        } else {
            break;  // arguments without a call
        }
        take_reply(*call, reply);
    }
    flush(reply);
    COMCloseSock(conn);  // refused harmlessly when the transport closed it already
    return exit_ok;
}

int32_t listen_on(const Options &o) {
    if (o.service != nullptr) {
        COMSetServiceName(o.service);
        COMSetDefaultPort(0);
    } else {
        // A name no services database holds, so the port given is the one used.
        COMSetServiceName("");
        COMSetDefaultPort(static_cast<int16_t>(PThtons(static_cast<uint16_t>(o.port))));
    }
    return COMDoMakeListenSock();
}

}  // namespace

int cmd_serve(int argc, char **argv) {
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        return exit_usage;
    }
    idle_seconds = options->idle;
    COMGetTraceFile();  // decided once here, so the workers share it
    const int32_t listening = listen_on(*options);
    if (listening < 0) {
        std::fprintf(stderr, "razivu serve: cannot listen: %s\n", last_error().c_str());
        return exit_failed;
    }
    const long port = options->service != nullptr
                          ? PTntohs(static_cast<uint16_t>(COMGetPortByName(options->service, "tcp")))
                          : options->port;
    std::printf("razivu serve: listening on port %ld, up to %d workers\n", port,
                options->workers);
    std::fflush(stdout);
    workers::start(options->workers);
    while (workers::wait_for_room()) {
        // Accept retries when a signal interrupts it, so the stop request is
        // looked at between short waits for a client.
        const int32_t waited = COMPollSock(listening, accept_wait_seconds);
        if (waited == RAZIVU_POLL_FAILED) {
            std::fprintf(stderr, "razivu serve: the listening socket failed: %s\n",
                         last_error().c_str());
            break;
        }
        if (waited != RAZIVU_POLL_READABLE) {
            continue;
        }
        const int32_t conn = COMWaitForConnectingSock(listening);
        if (conn >= 0) {
            workers::spawn(listening, conn, serve_connection);
        }
    }
    workers::stop_all();
    COMCloseSock(listening);
    PTWSACleanup();
    std::printf("razivu serve: stopped\n");
    return exit_ok;
}

}  // namespace razivu_tool
