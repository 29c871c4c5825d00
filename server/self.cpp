// This worker of the server: see self.h.
#include "server/self.h"

#include <atomic>

#include "platform/serving.h"

namespace razivu::server::self {
namespace {

namespace net = platform::net;

// Process-wide, read by look() in a signal handler or another thread.
struct Self {
    std::atomic<int32_t> conn{-1};             // the connection served
    std::atomic<board::Slot *> slot{nullptr};  // where its state is shown
    std::atomic<int> cut{0};                   // the Leave look() acted on
    std::atomic<bool> stop{false};             // a stop request came to this process
};
Self me;
static_assert(std::atomic<board::Slot *>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free);

board::Stop board_stop() {
    return static_cast<board::Stop>(board::board().stop.load());
}

}  // namespace

void begin(int32_t conn, std::size_t slot) {
    me.slot = &board::board().slots[slot];
    me.conn = conn;
}

void enter(board::State state) {
    board::Slot *s = me.slot;
    if (s != nullptr) {
        s->state = static_cast<uint32_t>(state);
        s->since = board::now();
        ++s->seq;
    }
}

bool stopping() {
    return me.stop || board_stop() != board::Stop::none;
}

Leave cut_reason() {
    return static_cast<Leave>(me.cut.load());
}

void stop_received() {
    me.stop = true;
}

void look() {
    const board::Slot *s = me.slot;
    if (s == nullptr || me.conn < 0 || cut_reason() != Leave::none) {
        return;
    }
    const uint32_t seq = s->seq;
    const auto state = static_cast<board::State>(s->state.load());
    const bool quiet = state == board::State::waiting || state == board::State::idle;
    Leave why = Leave::none;
    if (board_stop() == board::Stop::at_once) {
        why = Leave::at_once;
    } else if (s->leave == seq && state != board::State::leaving) {
        why = Leave::made_room;
    } else if (stopping() && quiet) {
        why = Leave::stopping;
    }
    if (why != Leave::none) {
        me.cut = static_cast<int>(why);
        net::cut(me.conn);
    }
}

}  // namespace razivu::server::self
