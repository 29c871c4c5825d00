// razivu proxy LISTEN [TARGET]
//
// Relays between old clients and an old server without changing a byte, and
// prints every field of both directions as it passes, with the time since
// the connection began. Bytes are relayed as they arrive (a field cut over
// two segments passes at once); the decoding watches a copy. A half-close
// is passed on, so a client that shuts its side after the call still gets
// the reply.
//
// One event loop serves every connection and never waits on one side: each
// direction holds at most a buffer of bytes, and while the receiving side
// does not take them the sending side is not read, so TCP holds back that
// one sender and nobody else.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/times.h"
#include "client/field_print.h"
#include "client/proxy_stream.h"
#include "client/target.h"
#include "common/endpoint.h"
#include "common/fields.h"
#include "common/net_io.h"
#include "common/numbers.h"

namespace razivu_tool {
namespace {

using Clock = std::chrono::steady_clock;

// Connections relayed at once (two sockets each); more wait in the
// listening socket's queue.
constexpr std::size_t max_relays = 256;
// Bytes one direction holds that the receiving side has not taken yet.
constexpr std::size_t direction_cap = 16384;
// Connections taken in one go before the relays have their turn.
constexpr int accept_batch = 32;
// The longest wait of the loop when no time-out is nearer.
constexpr int32_t max_wait_ms = 1000;
constexpr int64_t default_backlog = 128;
constexpr int64_t max_backlog = 65535;
constexpr int64_t default_idle_ms = 60000;
constexpr int64_t max_idle_seconds = 86400;
constexpr const char *default_bind = "0.0.0.0";

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object per line instead of text"},
    {"--once", nullptr, nullptr, "end when the first connection has ended"},
    {"--bind", nullptr, "ADDR", "IPv4 or IPv6 address to listen on (default 0.0.0.0, every IPv4 interface)"},
    {"--backlog", nullptr, "N", "connections the system queues while 256 are relayed (128)"},
    {"--idle", nullptr, "SECONDS", "close a connection when neither side has sent anything for this long (60)"},
    encoding_option,
};

// One direction: bytes read from `from` and sent on to `to`.
struct Side {
    int32_t from;
    int32_t to;
    const char *name;    // "call" (client to server) or "reply"
    const char *sender;  // "client" or "server"
    FieldStream fields;
    std::array<char, direction_cap> held{};  // read, not yet sent on
    std::size_t start = 0;                   // first byte held
    std::size_t len = 0;                     // bytes held
    bool open = true;                        // the sender has not closed its side
    bool passed_on = false;                  // its close was passed on
};

struct Relay {
    int id;
    Clock::time_point start = Clock::now();
    Clock::time_point active = Clock::now();  // when a byte last moved
    Side up;
    Side down;
    bool connecting = true;    // the connect to the server is under way
    std::size_t address = 0;   // the server address it is made to
    bool ended = false;
};

struct Settings {
    net::Endpoint listen;                 // where clients come
    Target target;                        // the server as given
    std::vector<net::Endpoint> servers;   // its addresses, tried in turn
    int64_t backlog = 0;
    int64_t idle_ms = 0;
    Encoding encoding = Encoding::utf8;
    bool json = false;
    bool once = false;
};

// One thing that happened to a connection: a line of text, or with --json
// an object with its name and details.
struct Event {
    const char *name;  // "connected", "closed", ...
    std::string text;
    JsonObject details;
};

// Lines on standard output, flushed one by one so that a pipe sees each
// field when it passes.
class Printer {
public:
    Printer(bool json, Encoding encoding) : json_(json), encoding_(encoding) {}

    void field(const Relay &r, const Side &s, const FieldStream::Decoded &d) const {
        if (json_) {
            std::printf("%s\n", head(r).raw("direction", json_string(s.name))
                                   .raw("field", field_json(d.field, d.offset, encoding_))
                                   .str()
                                   .c_str());
        } else {
            std::printf("#%d %8.3f %-5s %-8llu %s\n", r.id, seconds(r), s.name,
                        static_cast<unsigned long long>(d.offset), field_text(d.field, encoding_).c_str());
        }
        std::fflush(stdout);
    }
    void event(const Relay &r, const Event &e) const {
        if (json_) {
            std::printf("%s\n", head(r).text("event", e.name).merge(e.details).str().c_str());
        } else {
            std::printf("#%d %8.3f %s\n", r.id, seconds(r), e.text.c_str());
        }
        std::fflush(stdout);
    }

private:
    static double seconds(const Relay &r) {
        return std::chrono::duration<double>(Clock::now() - r.start).count();
    }
    static JsonObject head(const Relay &r) {
        char secs[32];
        std::snprintf(secs, sizeof secs, "%.3f", seconds(r));
        return JsonObject()
            .number("connection", r.id)
            .text("time", iso8601(std::chrono::system_clock::now()))
            .raw("seconds", secs);
    }
    bool json_;
    Encoding encoding_;
};

// LISTEN: a port (0: any free one) on --bind's address, or ADDR:PORT.
bool parse_listen(const Args &args, Settings &s) {
    Target where{args.value("--bind") != nullptr ? args.value("--bind") : default_bind,
                 args.operands[0]};
    const bool joined = split_host_port(args.operands[0], where);
    int64_t port = 0;
    std::vector<net::Endpoint> found;
    std::string why;
    if (joined && args.value("--bind") != nullptr) {
        usage_error(proxy_help, "give the address to listen on once: in LISTEN or with --bind");
    } else if (!parse_integer(where.service.c_str(), 0, max_port, port)) {
        usage_error(proxy_help, "the port to listen on must be 0 to 65535, not '" + where.service + "'");
    } else if (!net::resolve(where.host.c_str(), where.service.c_str(), true, found, why)) {
        usage_error(proxy_help, "cannot listen on " + where.text() + ": " + why);
    } else {
        s.listen = found.front();
        return true;
    }
    return false;
}

bool parse_settings(const Args &args, Settings &s) {
    const std::vector<const char *> rest(args.operands.begin() + 1, args.operands.end());
    std::string problem;
    if (!parse_listen(args, s)) {
        return false;
    }
    if (take_target(rest, nullptr, s.target, problem) != static_cast<int>(rest.size())) {
        usage_error(proxy_help, problem.empty() ? "too many arguments" : problem);
        return false;
    }
    s.json = args.has("--json");
    s.once = args.has("--once");
    return option_number(proxy_help, args, "--backlog", 1, max_backlog, default_backlog, s.backlog) &&
           option_seconds(proxy_help, args, "--idle", nullptr, max_idle_seconds, default_idle_ms,
                          s.idle_ms) &&
           option_encoding(proxy_help, args, s.encoding);
}

Event side_event(const char *name, const char *key, const char *value, std::string text) {
    return Event{name, std::move(text), JsonObject().text(key, value)};
}

void end_relay(Relay &r, const Printer &out, const Event *why = nullptr) {
    if (why != nullptr) {
        out.event(r, *why);
    }
    net::close_socket(r.up.from);
    net::close_socket(r.down.from);
    drop_errors();
    out.event(r, Event{"closed",
                       "closed: " + std::to_string(r.up.fields.bytes()) + " bytes of calls, " +
                           std::to_string(r.down.fields.bytes()) + " bytes of replies",
                       JsonObject()
                           .number("call_bytes", static_cast<int64_t>(r.up.fields.bytes()))
                           .number("reply_bytes", static_cast<int64_t>(r.down.fields.bytes()))});
    r.ended = true;
}

// Runs step on s's fields and says so when it made them stop decoding.
template <typename Step>
void report_problem(const Relay &r, const Side &s, const Printer &out, Step step) {
    const bool decoding = s.fields.problem().empty();
    step();
    if (decoding && !s.fields.problem().empty()) {
        Event e = side_event("undecoded", "direction", s.name,
                             std::string(s.name) + " relayed, no longer decoded: " + s.fields.problem());
        e.details.text("problem", s.fields.problem());
        out.event(r, e);
    }
}

// Takes what has arrived on s.from into the room s has.
void take_in(Relay &r, Side &s, const Printer &out) {
    if (s.start + s.len == s.held.size()) {
        std::copy(s.held.begin() + static_cast<long>(s.start), s.held.begin() + static_cast<long>(s.start + s.len),
                  s.held.begin());
        s.start = 0;
    }
    char *room = s.held.data() + s.start + s.len;
    const int32_t n = net::receive_some(s.from, room, static_cast<int32_t>(s.held.size() - s.start - s.len));
    if (n < 0 && !net::would_block()) {
        Event e = side_event("side_failed", "side", s.sender,
                             std::string("the ") + s.sender + "'s side failed: " + net::error_text());
        e.details.text("error", net::error_text());
        end_relay(r, out, &e);
    } else if (n == 0) {
        s.open = false;
        report_problem(r, s, out, [&s] { s.fields.finish(); });
        out.event(r, side_event("side_closed", "side", s.sender, std::string("the ") + s.sender + " closed its side"));
    } else if (n > 0) {
        s.len += static_cast<std::size_t>(n);
        r.active = Clock::now();
        report_problem(r, s, out, [&] {
            for (const FieldStream::Decoded &d : s.fields.take(std::string_view(room, static_cast<std::size_t>(n)))) {
                out.field(r, s, d);
            }
        });
    }
}

// Sends on what s holds, as much as s.to takes now; once the sender has
// closed and everything is through, the close is passed on.
void pass_on(Relay &r, Side &s, const Printer &out) {
    if (s.len > 0) {
        const int32_t n = net::send_some(s.to, s.held.data() + s.start, static_cast<int32_t>(s.len));
        if (n < 0 && !net::would_block()) {
            Event e = side_event("send_failed", "direction", s.name,
                                 std::string("cannot pass the ") + s.name + " on: " + net::error_text());
            e.details.text("error", net::error_text());
            end_relay(r, out, &e);
            return;
        }
        if (n > 0) {
            s.start += static_cast<std::size_t>(n);
            s.len -= static_cast<std::size_t>(n);
            r.active = Clock::now();
        }
    }
    if (!s.open && s.len == 0 && !s.passed_on) {
        net::shutdown_send(s.to);
        s.passed_on = true;
    }
}

class Proxy {
public:
    Proxy(int32_t listening, const Settings &set) : listening_(listening), set_(set), out_(set.json, set.encoding) {}
    int run();

private:
    void accept_clients();
    bool start_connect(Relay &r);
    void connected(Relay &r);
    int32_t wait_ms() const;
    Event connect_failed(const std::string &why) const;

    int32_t listening_;
    const Settings &set_;
    Printer out_;
    std::list<Relay> relays_;
    int next_id_ = 1;
    bool accepting_ = true;
    bool relayed_ = false;
};

int Proxy::run() {
    while (accepting_ || !relays_.empty()) {
        std::vector<net::Watch> watched;
        std::vector<std::pair<Relay *, Side *>> owners;  // nullptr for the listening socket
        if (accepting_ && relays_.size() < max_relays) {
            watched.push_back(net::Watch{listening_, true});
            owners.emplace_back(nullptr, nullptr);
        }
        for (Relay &r : relays_) {
            if (r.connecting) {
                watched.push_back(net::Watch{r.up.to, false, true});
                owners.emplace_back(&r, nullptr);
                continue;
            }
            // Each socket is read for its own side and written for the other's.
            for (Side *s : {&r.up, &r.down}) {
                const Side &other = s == &r.up ? r.down : r.up;
                watched.push_back(net::Watch{s->from, s->open && s->start + s->len < s->held.size(), other.len > 0});
                owners.emplace_back(&r, s);
            }
        }
        if (net::wait_any(watched, wait_ms()) < 0) {
            std::fprintf(stderr, "razivu proxy: cannot wait for data: %s\n", net::error_text().c_str());
            return exit_io;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            auto [relay, side] = owners[i];
            if (relay == nullptr) {
                if (watched[i].readable) {
                    accept_clients();
                }
            } else if (relay->connecting && watched[i].writable) {
                connected(*relay);
            } else if (side != nullptr && !relay->ended) {
                if (watched[i].readable) {
                    take_in(*relay, *side, out_);
                    if (!relay->ended) {
                        pass_on(*relay, *side, out_);  // at once, where the other side takes it
                    }
                }
                Side &other = side == &relay->up ? relay->down : relay->up;
                if (!relay->ended && watched[i].writable) {
                    pass_on(*relay, other, out_);
                }
            }
        }
        const auto idle = std::chrono::milliseconds(set_.idle_ms);
        for (Relay &r : relays_) {
            if (!r.ended && !r.connecting && !r.up.open && !r.down.open && r.up.len == 0 && r.down.len == 0) {
                end_relay(r, out_);
            } else if (!r.ended && Clock::now() - r.active >= idle) {
                const Event e{"idle", "idle for " + seconds_text(set_.idle_ms) + " s",
                              JsonObject().raw("seconds", seconds_text(set_.idle_ms))};
                end_relay(r, out_, &e);
            }
        }
        relays_.remove_if([](const Relay &r) { return r.ended; });
    }
    return relayed_ ? exit_ok : exit_io;
}

// Until the nearest idle limit, at most max_wait_ms.
int32_t Proxy::wait_ms() const {
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(max_wait_ms);
    for (const Relay &r : relays_) {
        next = std::min(next, r.active + std::chrono::milliseconds(set_.idle_ms));
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int32_t>(std::max<long long>(left, 0));
}

Event Proxy::connect_failed(const std::string &why) const {
    return Event{"connect_failed", "cannot connect to " + set_.target.text() + ": " + why,
                 JsonObject().text("server", set_.target.text()).text("error", why)};
}

void Proxy::accept_clients() {
    for (int i = 0; i < accept_batch && accepting_ && relays_.size() < max_relays; ++i) {
        Relay r{next_id_, Clock::now(), Clock::now(), Side{-1, -1, "call", "client", {}},
                Side{-1, -1, "reply", "server", {}}};
        const int32_t client = net::accept_now(listening_);
        if (client < 0) {
            if (!net::would_block()) {
                out_.event(r, Event{"accept_failed", "cannot accept: " + net::error_text(),
                                    JsonObject().text("error", net::error_text())});
            }
            return;
        }
        ++next_id_;
        accepting_ = !set_.once;
        net::set_blocking(client, false);
        r.up.from = r.down.to = client;
        if (start_connect(r)) {
            relays_.push_back(std::move(r));
        } else {
            net::close_socket(client);
        }
    }
}

// Begins the connect to the relay's server address, or to the next ones
// when one cannot even be begun; false, said, when none is left.
bool Proxy::start_connect(Relay &r) {
    std::string why;
    for (; r.address < set_.servers.size(); ++r.address) {
        const int32_t server = net::connect_start(set_.servers[r.address], why);
        if (server >= 0) {
            r.up.to = r.down.from = server;
            return true;
        }
    }
    out_.event(r, connect_failed(why));
    return false;
}

void Proxy::connected(Relay &r) {
    if (!net::connect_finished(r.up.to)) {
        const std::string why = net::error_text();
        net::close_socket(r.up.to);
        if (++r.address < set_.servers.size()) {
            if (start_connect(r)) {
                return;  // on to the next address of the server
            }
        } else {
            out_.event(r, connect_failed(why));
        }
        net::close_socket(r.up.from);
        r.ended = true;
        return;
    }
    r.connecting = false;
    relayed_ = true;
    r.active = Clock::now();
    const std::string address = net::endpoint_text(set_.servers[r.address]);
    out_.event(r, Event{"connected",
                        "connected, relaying to " + address + " at " +
                            iso8601(std::chrono::system_clock::now()),
                        JsonObject().text("server", set_.target.text()).text("address", address)});
}

}  // namespace

const Help proxy_help{
    "proxy",
    "LISTEN [HOST PORT | HOST:PORT]",
    "relay between old clients and an old server and print every field that passes",
    "Listens on LISTEN (a port on --bind's address, or ADDR:PORT, [IPV6]:PORT; port 0 takes\n"
    "a free one, which the first line says) and connects each client to the server: HOST and\n"
    "PORT as razivu call takes them, or RAZIVU_HOST and RAZIVU_PORT. Bytes pass unchanged in\n"
    "both directions, as they arrive; a copy of each direction is decoded, and every field\n"
    "is printed with its connection, the seconds since the connection began, its direction\n"
    "and its offset:\n"
    "  #1    0.000 connected, relaying to 127.0.0.1:7000 at 2024-06-01T08:14:03.512Z\n"
    "  #1    0.001 call  0        function \"Echo\"\n"
    "  #1    0.001 call  12       integer  42\n"
    "  #1    0.002 reply 0        return   10 (Call was successful.)\n"
    "  #1    0.002 reply 7        integer  42\n"
    "When the bytes of a direction stop being fields, they are still relayed but no longer\n"
    "decoded. A side that closes is closed on to the other end. Texts are read as\n"
    "--encoding says (razivu help call).\n"
    "\n"
    "With --json each line is a JSON object with connection, time (ISO 8601, UTC) and\n"
    "seconds, and either direction and field (as razivu call --json writes fields) or\n"
    "event: connected (server, address), side_closed (side), undecoded (direction,\n"
    "problem), side_failed (side, error), send_failed (direction, error), idle (seconds),\n"
    "connect_failed (server, error), accept_failed (error) or closed (call_bytes,\n"
    "reply_bytes).\n"
    "\n"
    "Up to 256 connections are relayed at once by one loop that never waits on one of them:\n"
    "each direction holds at most 16 KiB that the other side has not taken, and a side that\n"
    "does not read only holds back its own peer. A connection is closed when neither side\n"
    "has sent anything for --idle seconds. The server's name is looked up once, when the\n"
    "proxy starts; its addresses are tried in turn.\n"
    "\n"
    "Runs until it is stopped, or with --once until the first connection has ended (exit\n"
    "status 3 when that connection could not be made).",
    options,
    Operands::none};

int cmd_proxy(int argc, char **argv) {
    Args args;
    Settings set;
    if (!parse_args(proxy_help, argc, argv, 1, 3, args) || !parse_settings(args, set)) {
        return exit_usage;
    }
    PTWSAStartup();
    std::string why;
    if (!net::resolve(set.target.host.c_str(), set.target.service.c_str(), false, set.servers, why)) {
        std::fprintf(stderr, "razivu proxy: cannot connect to %s: %s\n", set.target.text().c_str(), why.c_str());
        PTWSACleanup();
        return exit_io;
    }
    const int32_t listening = net::listen_on(set.listen, static_cast<int32_t>(set.backlog), why);
    net::Endpoint bound = set.listen;
    if (listening < 0) {
        std::fprintf(stderr, "razivu proxy: cannot listen: %s\n", why.c_str());
        PTWSACleanup();
        return exit_io;
    }
    net::local_endpoint(listening, bound);
    std::fprintf(stderr, "razivu proxy: listening on %s, relaying to %s\n", net::endpoint_text(bound).c_str(),
                 set.target.text().c_str());
    Proxy proxy(listening, set);
    const int status = proxy.run();
    net::close_socket(listening);
    PTWSACleanup();
    return status;
}

}  // namespace razivu_tool
