// razivu proxy LISTEN-PORT HOST SERVICE|PORT
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
#include "cli/options.h"
#include "client/errors.h"
#include "client/field_print.h"
#include "client/proxy_stream.h"
#include "client/target.h"
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
constexpr int64_t default_idle_seconds = 60;
constexpr int64_t max_idle_seconds = 86400;
constexpr const char *default_bind = "0.0.0.0";

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object per line instead of text"},
    {"--once", nullptr, nullptr, "end when the first connection has ended"},
    {"--bind", nullptr, "ADDR", "IPv4 address to listen on (default 0.0.0.0, every interface)"},
    {"--backlog", nullptr, "N", "connections the system queues while 256 are relayed (128)"},
    {"--idle", nullptr, "SECONDS", "close a connection when neither side has sent anything for this long (60)"},
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
    bool connecting = true;  // the connect to the server is under way
    bool ended = false;
};

struct Settings {
    int64_t listen_port = 0;
    const char *host = nullptr;
    const char *target = nullptr;
    uint32_t server_addr = 0;  // network byte order
    uint16_t server_port = 0;  // network byte order
    uint32_t bind_addr = 0;
    int64_t backlog = 0;
    int64_t idle_seconds = 0;
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

// The port of SERVICE|PORT in network byte order; 0 when the services
// database lacks the service.
uint16_t target_port(const char *target) {
    const char *service = choose_service(target);
    if (service == nullptr || (service[0] != '\0' && PTgetservbyname(service, "tcp") == nullptr)) {
        return 0;
    }
    return static_cast<uint16_t>(service[0] != '\0' ? COMGetPortByName(service, "tcp") : COMGetDefaultPort());
}

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
    const char *bind = args.value("--bind") != nullptr ? args.value("--bind") : default_bind;
    if (!net::parse_ipv4(bind, s.bind_addr)) {
        usage_error(proxy_help, std::string("--bind takes an IPv4 address such as 127.0.0.1, not ") + bind);
        return false;
    }
    return option_number(proxy_help, args, "--backlog", 1, max_backlog, default_backlog, s.backlog) &&
           option_number(proxy_help, args, "--idle", 1, max_idle_seconds, default_idle_seconds, s.idle_seconds);
}

void end_relay(Relay &r, const Printer &out, const std::string &why = {}) {
    if (!why.empty()) {
        out.event(r, why);
    }
    net::close_socket(r.up.from);
    net::close_socket(r.down.from);
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
        end_relay(r, out, std::string("the ") + s.sender + "'s side failed: " + net::error_text());
    } else if (n == 0) {
        s.open = false;
        report_problem(r, s, out, [&s] { s.fields.finish(); });
        out.event(r, std::string("the ") + s.sender + " closed its side");
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
            end_relay(r, out, std::string("cannot pass the ") + s.name + " on: " + net::error_text());
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
    Proxy(int32_t listening, const Settings &set) : listening_(listening), set_(set), out_(set.json) {}
    int run();

private:
    void accept_clients();
    void connected(Relay &r);
    int32_t wait_ms() const;

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
        const auto idle = std::chrono::seconds(set_.idle_seconds);
        for (Relay &r : relays_) {
            if (!r.ended && !r.connecting && !r.up.open && !r.down.open && r.up.len == 0 && r.down.len == 0) {
                end_relay(r, out_);
            } else if (!r.ended && Clock::now() - r.active >= idle) {
                end_relay(r, out_, "idle for " + std::to_string(set_.idle_seconds) + " s");
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
        next = std::min(next, r.active + std::chrono::seconds(set_.idle_seconds));
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int32_t>(std::max<long long>(left, 0));
}

void Proxy::accept_clients() {
    for (int i = 0; i < accept_batch && accepting_ && relays_.size() < max_relays; ++i) {
        Relay r{next_id_, Clock::now(), Clock::now(), Side{-1, -1, "call", "client", {}},
                Side{-1, -1, "reply", "server", {}}};
        const int32_t client = net::accept_now(listening_);
        if (client < 0) {
            if (!net::would_block()) {
                out_.event(r, "cannot accept: " + net::error_text());
            }
            return;
        }
        ++next_id_;
        accepting_ = !set_.once;
        net::set_blocking(client, false);
        const int32_t server = net::connect_start(set_.server_addr, set_.server_port);
        if (server < 0) {
            out_.event(r, std::string("cannot connect to ") + set_.host + " " + set_.target + ": " + net::error_text());
            net::close_socket(client);
            continue;
        }
        r.up.from = r.down.to = client;
        r.up.to = r.down.from = server;
        relays_.push_back(std::move(r));
    }
}

void Proxy::connected(Relay &r) {
    r.connecting = false;
    if (!net::connect_finished(r.up.to)) {
        out_.event(r, std::string("cannot connect to ") + set_.host + " " + set_.target + ": " + net::error_text());
        net::close_socket(r.up.from);
        net::close_socket(r.up.to);
        r.ended = true;
        return;
    }
    relayed_ = true;
    r.active = Clock::now();
    out_.event(r, std::string("connected, relaying to ") + set_.host + " " + set_.target);
}

}  // namespace

const Help proxy_help{
    "proxy",
    "LISTEN-PORT HOST SERVICE|PORT",
    "relay between old clients and an old server and print every field that passes",
    "Listens on LISTEN-PORT and connects each client to HOST on SERVICE or PORT. Bytes pass\n"
    "unchanged in both directions, as they arrive; a copy of each direction is decoded, and\n"
    "every field is printed with its connection, the seconds since the connection began, its\n"
    "direction and its offset:\n"
    "  #1    0.000 connected, relaying to 127.0.0.1 7000\n"
    "  #1    0.001 call  0        function \"Echo\"\n"
    "  #1    0.001 call  12       integer  42\n"
    "  #1    0.002 reply 0        return   10 (Call was successful.)\n"
    "  #1    0.002 reply 7        integer  42\n"
    "When the bytes of a direction stop being fields, they are still relayed but no longer\n"
    "decoded. A side that closes is closed on to the other end. With --json each line is a\n"
    "JSON object with connection, seconds, and a direction with its field or an event.\n"
    "\n"
    "Up to 256 connections are relayed at once by one loop that never waits on one of them:\n"
    "each direction holds at most 16 KiB that the other side has not taken, and a side that\n"
    "does not read only holds back its own peer. A connection is closed when neither side\n"
    "has sent anything for --idle seconds.\n"
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
    set.server_port = target_port(set.target);
    drop_errors();
    if (set.server_port == 0 || !net::resolve_ipv4(set.host, set.server_addr)) {
        std::fprintf(stderr, "razivu proxy: cannot connect to %s %s: %s\n", set.host, set.target,
                     set.server_port == 0 ? "service not found" : "host not found");
        PTWSACleanup();
        return exit_io;
    }
    std::string why;
    const int32_t listening = net::listen_at(set.bind_addr, PThtons(static_cast<uint16_t>(set.listen_port)),
                                             static_cast<int32_t>(set.backlog), why);
    if (listening < 0) {
        std::fprintf(stderr, "razivu proxy: cannot listen: %s\n", why.c_str());
        PTWSACleanup();
        return exit_io;
    }
    std::fprintf(stderr, "razivu proxy: listening on %s:%lld, relaying to %s %s\n",
                 args.value("--bind") != nullptr ? args.value("--bind") : default_bind,
                 static_cast<long long>(set.listen_port), set.host, set.target);
    Proxy proxy(listening, set);
    const int status = proxy.run();
    net::close_socket(listening);
    PTWSACleanup();
    return status;
}

}  // namespace razivu_tool
