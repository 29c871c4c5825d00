// The listening process of the server: see listener.h and admission.h.
#include "server/listener.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "server/admission.h"
#include "server/board.h"
#include "server/serve_log.h"

namespace razivu::server {
namespace {

namespace net = platform::net;
namespace workers = platform::workers;

using board::Ms;
using board::State;

// How often the limits are looked at when nothing else happens; under
// pressure often enough that a worker that may make room does so soon.
constexpr int32_t tick_ms = 100;
constexpr int32_t pressure_tick_ms = 25;
// Connections accepted in one go before the rest of the work has its turn.
constexpr int accept_batch = 256;
// How long accepting rests when the system is short of descriptors, and
// how often that is said.
constexpr Ms accept_rest_ms = 100;
constexpr Ms accept_note_ms = 60 * 1000;
// How long workers have to end after a stop at once before they are killed.
constexpr Ms at_once_grace_ms = 2000;
// Connections that may wait for a worker: as many as the process may hold
// beside the sockets kept for other uses, at least and at most; one address
// may hold a quarter of them. Room enough for an attacker's every connection
// means none is turned away at once, to come straight back.
constexpr std::size_t kept_sockets = 64;
constexpr std::size_t min_waiting_cap = 64;
constexpr std::size_t max_waiting_cap = 4096;
constexpr std::size_t waiting_share = 4;
// How long an address is remembered once it holds nothing, and how many are.
constexpr Ms address_memory_ms = 60 * 1000;
constexpr std::size_t max_addresses = 4096;
constexpr double ms_per_second = 1000.0;

// A connection taken but not yet given a worker.
struct Waiting {
    int32_t conn;
    net::Peer peer;
    Ms taken;                 // when it was accepted
    Ms begun = 0;             // when its first byte was seen
    bool call_begun = false;  // it has sent something
};

// A worker, by its slot on the board.
struct Serving {
    bool used = false;
    net::Peer peer;
    uint32_t asked = 0;  // the seq at which it was asked to leave; 0: never
};

// What an address holds, for its share and for who is served next.
struct Address {
    std::size_t workers = 0;  // workers serving it
    std::size_t waiting = 0;  // its connections waiting for one
    bool served = false;      // it was given a worker before
    Ms last_served = 0;
};

std::string seconds(int32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", ms / ms_per_second);
    return text;
}

class Listener {
public:
    Listener(int32_t listening, const ListenerConfig &config, workers::ServeFn serve)
        : listening_(listening), config_(config), serve_(serve), serving_(config.workers),
          waiting_cap_(std::clamp(net::socket_room() - std::min(net::socket_room(), kept_sockets + config.workers),
                                  min_waiting_cap, max_waiting_cap)) {}
    Stopped run();

private:
    bool under_pressure() const { return admission::pressure(busy_, waiting_.size(), config_.workers); }
    std::size_t waiting_cap() const { return waiting_cap_; }
    bool accepting() const;
    void take_connections();
    void admit(int32_t conn);
    void look_at_waiting(const std::vector<net::Watch> &watched, std::size_t first);
    void serve_waiting();
    void dispatch(std::size_t i);
    void make_room();
    void keep_limits();
    void ask_to_leave(std::size_t slot, uint32_t seq);
    void release(std::size_t slot);
    void drop_waiting(std::size_t i, const std::string &why, Trouble trouble);
    bool make_room_waiting(std::size_t newcomer_waiting);
    void forget_addresses();
    void begin_stop();
    void stop_at_once();
    void end_the_rest();

    int32_t listening_;
    ListenerConfig config_;
    workers::ServeFn serve_;
    std::vector<Serving> serving_;  // by slot
    std::size_t waiting_cap_;       // connections that may wait
    std::size_t busy_ = 0;          // slots in use
    std::vector<Waiting> waiting_;  // in the order taken
    std::map<std::string, Address> addresses_;
    bool stopping_ = false;
    bool at_once_ = false;
    Ms at_once_since_ = 0;
    bool failed_ = false;       // the listening socket failed
    Ms resting_since_ = 0;      // accepting rests while the system is short
    bool resting_ = false;
    Ms noted_short_ = 0;        // when that was last said
    bool noted_ = false;
};

Stopped Listener::run() {
    summarise(false);
    for (;;) {
        for (const std::size_t slot : workers::reap()) {
            release(slot);
        }
        if ((stop_requests() > 0 || failed_) && !stopping_) {
            begin_stop();
        }
        if (stop_requests() > 1 && !at_once_) {
            stop_at_once();
        }
        if (stopping_ && busy_ == 0 && waiting_.empty()) {
            break;
        }
        if (at_once_ && board::age(at_once_since_) >= at_once_grace_ms) {
            end_the_rest();
            break;
        }
        std::vector<net::Watch> watched;
        const bool taking = accepting();
        if (taking) {
            watched.push_back(net::Watch{listening_, true});
        }
        const std::size_t first = watched.size();
        for (const Waiting &w : waiting_) {
            watched.push_back(net::Watch{w.conn, !w.call_begun});
        }
        workers::wait(watched, under_pressure() ? pressure_tick_ms : tick_ms);
        look_at_waiting(watched, first);
        if (taking && watched[0].readable) {
            take_connections();
        }
        serve_waiting();
        make_room();
        keep_limits();
    }
    summarise(true);
    return failed_ ? Stopped::listening_failed : Stopped::requested;
}

// Connections are taken as they come, so that the system's queue never
// fills (a full queue drops a client's SYN, and it retries only after a
// second); the waiting room sorts them.
bool Listener::accepting() const {
    return listening_ >= 0 && !(resting_ && board::age(resting_since_) < accept_rest_ms);
}

// A failure that is not the system short of descriptors or memory means the
// listening socket itself failed.
void Listener::take_connections() {
    resting_ = false;
    for (int i = 0; i < accept_batch; ++i) {
        const int32_t conn = net::accept_now(listening_);
        if (conn >= 0) {
            admit(conn);
            continue;
        }
        if (net::short_of_resources()) {
            resting_ = true;
            resting_since_ = board::now();
            if (!noted_ || board::age(noted_short_) >= accept_note_ms) {
                noted_ = true;
                noted_short_ = resting_since_;
                log_entry(RAZIVU_LOG_WARNING, "cannot accept: %s", net::error_text().c_str());
                net::write_line(name() + ": cannot accept: " + net::error_text() + "\n");
            }
        } else if (!net::would_block()) {
            failed_ = true;
        }
        return;
    }
}

// An address at its share of workers is refused while a worker is free for
// others, as it would be when one frees; until then it waits, within its
// share of the waiting room.
void Listener::admit(int32_t conn) {
    const net::Peer peer = net::address_of(conn, net::Side::peer);
    Address &a = addresses_[peer.key];
    if ((a.workers >= config_.per_address && busy_ < config_.workers) ||
        a.waiting >= waiting_cap() / waiting_share) {
        report(refusal_line(net::text(peer), a.workers, a.waiting), Trouble::refused, config_.quiet);
        net::close_socket(conn);
        return;
    }
    if (waiting_.size() >= waiting_cap() && !make_room_waiting(a.waiting)) {
        report(net::text(peer) + " not served: no room to wait for a worker", Trouble::unserved, config_.quiet);
        net::close_socket(conn);
        return;
    }
    ++a.waiting;
    waiting_.push_back(Waiting{conn, peer, board::now()});
}

// Waiting connections that have not sent anything are watched: their first
// byte makes them eligible under pressure; a close ends their wait.
void Listener::look_at_waiting(const std::vector<net::Watch> &watched, std::size_t first) {
    for (std::size_t i = waiting_.size(); i-- > 0;) {
        Waiting &w = waiting_[i];
        if (w.call_begun || !watched[first + i].readable) {
            continue;
        }
        const net::Ready ready = net::peek(w.conn);
        if (ready == net::Ready::data) {
            w.call_begun = true;
            w.begun = board::now();
        } else if (ready == net::Ready::end) {
            drop_waiting(i, "closed by the client while waiting for a worker", Trouble::none);
        }
    }
}

void Listener::serve_waiting() {
    while (busy_ < config_.workers) {
        std::vector<admission::Waiting> choice;
        for (const Waiting &w : waiting_) {
            const Address &a = addresses_[w.peer.key];
            choice.push_back(admission::Waiting{w.call_begun, static_cast<uint32_t>(a.workers), a.served,
                                                board::age(a.last_served), board::age(w.taken)});
        }
        const int i = admission::next_to_serve(choice, under_pressure());
        if (i < 0) {
            return;
        }
        const std::size_t held = addresses_[waiting_[static_cast<std::size_t>(i)].peer.key].workers;
        if (held >= config_.per_address) {
            drop_waiting(static_cast<std::size_t>(i), "", Trouble::refused);
        } else {
            dispatch(static_cast<std::size_t>(i));
        }
    }
}

void Listener::dispatch(std::size_t i) {
    const auto free = std::find_if(serving_.begin(), serving_.end(), [](const Serving &s) { return !s.used; });
    const std::size_t slot = static_cast<std::size_t>(free - serving_.begin());
    const Waiting w = waiting_[i];
    waiting_.erase(waiting_.begin() + static_cast<long>(i));
    board::Slot &s = board::board().slots[slot];
    s.leave = 0;
    s.state = static_cast<uint32_t>(State::waiting);
    s.since = board::now();
    ++s.seq;
    serving_[slot] = Serving{true, w.peer, 0};
    ++busy_;
    Address &a = addresses_[w.peer.key];
    --a.waiting;
    ++a.workers;
    a.served = true;
    a.last_served = board::now();
    std::vector<int32_t> others;
    if (listening_ >= 0) {
        others.push_back(listening_);
    }
    for (const Waiting &o : waiting_) {
        others.push_back(o.conn);
    }
    if (!workers::spawn(slot, w.conn, w.peer, serve_, others)) {
        report(net::text(w.peer) + " not served: no worker could be started", Trouble::unserved, config_.quiet);
        release(slot);
    }
}

// For each waiting connection whose call has begun and which no free
// worker, nor one that is leaving, will take, one worker is asked to leave.
void Listener::make_room() {
    if (!under_pressure()) {
        return;
    }
    const std::size_t begun = static_cast<std::size_t>(
        std::count_if(waiting_.begin(), waiting_.end(), [](const Waiting &w) { return w.call_begun; }));
    std::size_t coming = config_.workers - busy_;
    std::vector<admission::Worker> views(config_.workers, admission::Worker{State::free, 0, true});
    std::vector<uint32_t> seqs(config_.workers, 0);
    for (std::size_t slot = 0; slot < config_.workers; ++slot) {
        if (!serving_[slot].used) {
            continue;
        }
        const board::Slot &s = board::board().slots[slot];
        seqs[slot] = s.seq;
        const auto state = static_cast<State>(s.state.load());
        const bool asked = serving_[slot].asked == seqs[slot];
        views[slot] = admission::Worker{state, board::age(s.since), asked};
        coming += state == State::leaving || asked ? 1 : 0;
    }
    for (std::size_t need = begun > coming ? begun - coming : 0; need > 0; --need) {
        const int v = admission::victim(views);
        if (v < 0) {
            return;
        }
        ask_to_leave(static_cast<std::size_t>(v), seqs[static_cast<std::size_t>(v)]);
        views[static_cast<std::size_t>(v)].asked = true;
    }
}

// The shortened limits under pressure, the waiting connections' limits, the
// summaries of lines left out, and the addresses no longer needed.
void Listener::keep_limits() {
    const bool pressure = under_pressure();
    const int32_t first_byte = admission::first_byte_limit(config_.idle_ms, pressure);
    for (std::size_t slot = 0; slot < config_.workers && pressure; ++slot) {
        const board::Slot &s = board::board().slots[slot];
        const uint32_t seq = s.seq;
        const auto state = static_cast<State>(s.state.load());
        const int32_t limit = state == State::waiting ? first_byte
                              : state == State::idle  ? admission::idle_limit(config_.idle_ms, true)
                                                      : -1;
        if (serving_[slot].used && serving_[slot].asked != seq && limit >= 0 &&
            board::age(s.since) > static_cast<Ms>(limit)) {
            ask_to_leave(slot, seq);
        }
    }
    for (std::size_t i = waiting_.size(); i-- > 0;) {
        const Waiting &w = waiting_[i];
        if (!w.call_begun && board::age(w.taken) > static_cast<Ms>(first_byte)) {
            drop_waiting(i, "silent for " + seconds(first_byte) + " while the server was busy", Trouble::unserved);
        } else if (w.call_begun && board::age(w.begun) > static_cast<Ms>(config_.call_ms)) {
            drop_waiting(i, "no worker was free for its call within " + seconds(config_.call_ms), Trouble::unserved);
        }
    }
    summarise(false);
    forget_addresses();
}

void Listener::ask_to_leave(std::size_t slot, uint32_t seq) {
    board::board().slots[slot].leave = seq;
    serving_[slot].asked = seq;
    workers::nudge(slot);
}

void Listener::release(std::size_t slot) {
    Serving &s = serving_[slot];
    if (!s.used) {
        return;
    }
    s.used = false;
    --busy_;
    --addresses_[s.peer.key].workers;
    board::board().slots[slot].state = static_cast<uint32_t>(State::free);
}

// A refusal says why in its own words.
void Listener::drop_waiting(std::size_t i, const std::string &why, Trouble trouble) {
    const Waiting w = waiting_[i];
    waiting_.erase(waiting_.begin() + static_cast<long>(i));
    Address &a = addresses_[w.peer.key];
    --a.waiting;
    report(trouble == Trouble::refused ? refusal_line(net::text(w.peer), a.workers, 0)
                                       : net::text(w.peer) + " not served: " + why,
           trouble, config_.quiet);
    net::close_socket(w.conn);
}

// Makes room among the waiting for a newcomer; false when it has none.
bool Listener::make_room_waiting(std::size_t newcomer_waiting) {
    std::vector<admission::Waiter> room;
    for (const Waiting &w : waiting_) {
        room.push_back(admission::Waiter{w.call_begun, board::age(w.taken),
                                         static_cast<uint32_t>(addresses_[w.peer.key].waiting)});
    }
    const int i = admission::make_room_waiting(room, static_cast<uint32_t>(newcomer_waiting));
    if (i >= 0) {
        drop_waiting(static_cast<std::size_t>(i), "room was needed for another client", Trouble::unserved);
    }
    return i >= 0;
}

// An address that holds nothing is kept a while, so that the order of
// service remembers it; never more than max_addresses of them.
void Listener::forget_addresses() {
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        const Address &a = it->second;
        const bool stale = a.workers + a.waiting == 0 && (!a.served || board::age(a.last_served) > address_memory_ms ||
                                           addresses_.size() > max_addresses);
        it = stale ? addresses_.erase(it) : std::next(it);
    }
}

// Nothing new is taken; the calls under way are finished, connections that
// have sent nothing yet are closed.
void Listener::begin_stop() {
    stopping_ = true;
    if (listening_ >= 0) {
        net::close_socket(listening_);
        listening_ = -1;
    }
    board::board().stop = static_cast<uint32_t>(board::Stop::finish_calls);
    for (std::size_t slot = 0; slot < config_.workers; ++slot) {
        if (serving_[slot].used) {
            workers::nudge(slot);
        }
    }
    for (std::size_t i = waiting_.size(); i-- > 0;) {
        if (!waiting_[i].call_begun) {
            drop_waiting(i, "the server stopped", Trouble::none);
        }
    }
}

void Listener::stop_at_once() {
    at_once_ = true;
    at_once_since_ = board::now();
    board::board().stop = static_cast<uint32_t>(board::Stop::at_once);
    for (std::size_t slot = 0; slot < config_.workers; ++slot) {
        if (serving_[slot].used) {
            workers::nudge(slot);
        }
    }
    while (!waiting_.empty()) {
        drop_waiting(waiting_.size() - 1, "the server stopped at once", Trouble::none);
    }
}

// Workers that did not end when told to: ended, each with its line.
void Listener::end_the_rest() {
    workers::end_all();
    for (std::size_t slot = 0; slot < config_.workers; ++slot) {
        if (serving_[slot].used) {
            report(net::text(serving_[slot].peer) + " ended: its worker was killed at the stop", Trouble::none,
                   config_.quiet);
            release(slot);
        }
    }
}

}  // namespace

Stopped listen_and_serve(int32_t listening, const ListenerConfig &config, workers::ServeFn serve) {
    Listener listener(listening, config, serve);
    return listener.run();
}

}  // namespace razivu::server
