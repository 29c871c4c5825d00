// razivu proxy LISTEN-PORT HOST SERVICE|PORT
//
// Relays between old clients and an old server without changing a byte, and
// prints every field of both directions as it passes, with the time since
// the connection began. Bytes are relayed as they arrive (a field cut over
// two segments passes at once); the decoding watches a copy. A half-close
// is passed on, so a client that shuts its side after the call still gets
// the reply.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"
#include "client/errors.h"
#include "client/field_print.h"
#include "common/net_io.h"
#include "client/proxy_stream.h"
#include "client/target.h"
#include "common/fields.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

using Clock = std::chrono::steady_clock;

// Connections relayed at once; more wait in the listening socket's queue.
constexpr std::size_t max_relays = 64;
constexpr int32_t chunk_cap = 4096;

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object per line instead of text"},
    {"--once", nullptr, nullptr, "end when the first connection has ended"},
};

// One direction: bytes read from `from` and sent on to `to`.
struct Side {
    int32_t from;
    int32_t to;
    const char *name;    // "call" (client to server) or "reply"
    const char *sender;  // "client" or "server"
    FieldStream fields;
    bool open = true;  // the sender has not closed its side
};

struct Relay {
    int id;
    Clock::time_point start = Clock::now();
    Side up;
    Side down;
    bool ended = false;
};

struct Settings {
    int64_t listen_port = 0;
    const char *host = nullptr;
    const char *target = nullptr;
    bool json = false;
    bool once = false;
};

// Lines on standard output, flushed one by one so that a pipe sees each
// field when it passes.
class Printer {
public:
    explicit Printer(bool json) : json_(json) {}

    void field(const Relay &r, const Side &s, const FieldStream::Decoded &d) const {
        if (json_) {
            std::printf("{%s,\"direction\":\"%s\",\"field\":%s}\n", head(r).c_str(), s.name,
                        field_json(d.field, d.offset).c_str());
        } else {
            std::printf("#%d %8.3f %-5s %-8llu %s\n", r.id, seconds(r), s.name,
                        static_cast<unsigned long long>(d.offset), field_text(d.field).c_str());
        }
        std::fflush(stdout);
    }
    void event(const Relay &r, const std::string &text) const {
        if (json_) {
            std::printf("{%s,\"event\":%s}\n", head(r).c_str(), json_string(text).c_str());
        } else {
            std::printf("#%d %8.3f %s\n", r.id, seconds(r), text.c_str());
        }
        std::fflush(stdout);
    }

private:
    static double seconds(const Relay &r) {
        return std::chrono::duration<double>(Clock::now() - r.start).count();
    }
    static std::string head(const Relay &r) {
        char text[64];
        std::snprintf(text, sizeof text, "\"connection\":%d,\"seconds\":%.3f", r.id, seconds(r));
        return text;
    }
    bool json_;
};

bool parse_settings(const Args &args, Settings &s) {
    if (!parse_integer(args.operands[0], 1, max_port, s.listen_port)) {
        usage_error(proxy_help,
                    std::string("LISTEN-PORT must be 1 to 65535, not '") + args.operands[0] + "'");
        return false;
    }
    s.host = args.operands[1];
    s.target = args.operands[2];
    s.json = args.has("--json");
    s.once = args.has("--once");
    return true;
}

void end_relay(Relay &r, const Printer &out) {
    COMCloseSock(r.up.from);  // also releases a handle the transport closed
    COMCloseSock(r.down.from);
    drop_errors();
    out.event(r, "closed: " + std::to_string(r.up.fields.bytes()) + " bytes of calls, " +
                     std::to_string(r.down.fields.bytes()) + " bytes of replies");
    r.ended = true;
}

// Runs step on s's fields and says so when it made them stop decoding.
template <typename Step>
void report_problem(const Relay &r, const Side &s, const Printer &out, Step step) {
    const bool decoding = s.fields.problem().empty();
    step();
    if (decoding && !s.fields.problem().empty()) {
        out.event(r, std::string(s.name) + " relayed, no longer decoded: " + s.fields.problem());
    }
}

// Moves what has arrived on s.from; false when the relay has ended.
bool pump(Relay &r, Side &s, const Printer &out) {
    char chunk[chunk_cap];
    const int32_t n = net::receive_some(s.from, chunk, chunk_cap);
    if (n < 0) {
        out.event(r, std::string("the ") + s.sender + "'s side failed: " + net::error_text());
        end_relay(r, out);
        return false;
    }
    if (n == 0) {
        s.open = false;
        net::shutdown_send(s.to);
        report_problem(r, s, out, [&s] { s.fields.finish(); });
        out.event(r, std::string("the ") + s.sender + " closed its side");
        if (!r.up.open && !r.down.open) {
            end_relay(r, out);
        }
        return !r.ended;
    }
    const long mark = trace_mark();
    if (COMWriteSock(s.to, chunk, n, 0) != n) {
        out.event(
            r, std::string("cannot pass the ") + s.name + " on: " + cause_of(newest_error(mark)));
        end_relay(r, out);
        return false;
    }
    report_problem(r, s, out, [&] {
        for (const FieldStream::Decoded &d :
             s.fields.take(std::string_view(chunk, static_cast<std::size_t>(n)))) {
            out.field(r, s, d);
        }
    });
    return true;
}

// Accepts a client and connects it to the server; false when no relay came
// of it.
bool accept_one(int32_t listening, const Settings &set, int id, std::list<Relay> &relays,
                const Printer &out) {
    Relay r{id, Clock::now(), Side{-1, -1, "call", "client", {}},
            Side{-1, -1, "reply", "server", {}}};
    const int32_t client = COMWaitForConnectingSock(listening);
    if (client < 0) {
        out.event(r, "cannot accept: " + cause_of(newest_error(-1)));
        return false;
    }
    const long mark = trace_mark();
    const int32_t server = COMConnectToServerSock(set.host, choose_service(set.target));
    if (server < 0) {
        const LibraryError e = newest_error(mark);
        const bool unknown_host = e.kind == RAZIVU_KIND_LIBRARY && e.code == RAZIVU_E_UNKNOWN_HOST;
        out.event(r, std::string("cannot connect to ") + set.host + " " + set.target + ": " +
                         (unknown_host ? std::string("host not found") : cause_of(e)));
        COMCloseSock(client);
        drop_errors();
        return false;
    }
    drop_errors();
    r.up.from = r.down.to = client;
    r.up.to = r.down.from = server;
    relays.push_back(std::move(r));
    out.event(relays.back(), std::string("connected, relaying to ") + set.host + " " + set.target);
    return true;
}

int32_t listen_on(int64_t port) {
    COMSetServiceName("");  // a name no database holds, so the default port is used
    COMSetDefaultPort(static_cast<int16_t>(PThtons(static_cast<uint16_t>(port))));
    const long mark = trace_mark();
    const int32_t s = COMDoMakeListenSock();
    if (s < 0) {
        std::fprintf(stderr, "razivu proxy: cannot listen on port %lld: %s\n",
                     static_cast<long long>(port), cause_of(newest_error(mark)).c_str());
    }
    drop_errors();
    return s;
}

int relay_all(int32_t listening, const Settings &set) {
    const Printer out(set.json);
    std::list<Relay> relays;
    int next_id = 1;
    bool relayed = false;
    std::size_t turn = 0;  // rotates who is served first, so no socket starves the others
    for (bool accepting = true; accepting || !relays.empty(); ++turn) {
        std::vector<int32_t> sockets;
        std::vector<std::pair<Relay *, Side *>> owners;
        if (accepting && relays.size() < max_relays) {
            sockets.push_back(listening);
            owners.emplace_back(nullptr, nullptr);
        }
        for (Relay &r : relays) {
            for (Side *s : {&r.up, &r.down}) {
                if (s->open) {
                    sockets.push_back(s->from);
                    owners.emplace_back(&r, s);
                }
            }
        }
        const std::size_t shift = turn % sockets.size();
        std::rotate(sockets.begin(), sockets.begin() + static_cast<long>(shift), sockets.end());
        std::rotate(owners.begin(), owners.begin() + static_cast<long>(shift), owners.end());
        const int32_t ready = net::wait_readable(sockets, -1);
        if (ready < 0) {
            std::fprintf(stderr, "razivu proxy: cannot wait for data: %s\n",
                         net::error_text().c_str());
            return exit_io;
        }
        const auto [relay, side] = owners[static_cast<std::size_t>(ready)];
        if (relay == nullptr) {
            relayed = accept_one(listening, set, next_id++, relays, out) || relayed;
            accepting = !set.once;
        } else if (!pump(*relay, *side, out)) {
            relays.remove_if([](const Relay &r) { return r.ended; });
        }
    }
    return relayed ? exit_ok : exit_io;
}

}  // namespace

const Help proxy_help{
    "proxy",
    "LISTEN-PORT HOST SERVICE|PORT",
    "relay between old clients and an old server and print every field that passes",
    "Listens on LISTEN-PORT (all interfaces) and connects each client to HOST on SERVICE or\n"
    "PORT. Bytes pass unchanged in both directions, as they arrive; a copy of each direction\n"
    "is decoded, and every field is printed with its connection, the seconds since the\n"
    "connection began, its direction and its offset:\n"
    "  #1    0.000 connected, relaying to 127.0.0.1 7000\n"
    "  #1    0.001 call  0        function \"Echo\"\n"
    "  #1    0.001 call  12       integer  42\n"
    "  #1    0.002 reply 0        return   10 (Call was successful.)\n"
    "  #1    0.002 reply 7        integer  42\n"
    "When the bytes of a direction stop being fields, they are still relayed but no longer\n"
    "decoded. A side that closes is closed on to the other end. With --json each line is a\n"
    "JSON object with connection, seconds, and a direction with its field or an event.\n"
    "\n"
    "Runs until it is stopped, or with --once until the first connection has ended (exit\n"
    "status 3 when that connection could not be made).",
    options,
    Operands::none};

int cmd_proxy(int argc, char **argv) {
    Args args;
    Settings set;
    if (!parse_args(proxy_help, argc, argv, 3, 3, args) || !parse_settings(args, set)) {
        return exit_usage;
    }
    if (choose_service(set.target) == nullptr) {
        return usage_error(proxy_help, std::string("port '") + set.target + "' is not 1 to 65535");
    }
    PTWSAStartup();
    const int32_t listening = listen_on(set.listen_port);
    if (listening < 0) {
        PTWSACleanup();
        return exit_io;
    }
    std::fprintf(stderr, "razivu proxy: listening on port %lld, relaying to %s %s\n",
                 static_cast<long long>(set.listen_port), set.host, set.target);
    const int status = relay_all(listening, set);
    COMCloseSock(listening);
    PTWSACleanup();
    return status;
}

}  // namespace razivu_tool
