// A worker's connection: calls read field by field and answered as they
// arrive, under limits that count whole calls and whole silences.
//
// Reply fields go out as soon as nothing more of the client's is waiting,
// and the replies of a call before the next call is read, so a client never
// waits on the server guessing where a call ends and no answered call is
// held back when what follows fails. The client may also close its sending
// side after its last call (as `nc -N` does): the end is seen by looking at
// the connection before each field, and whatever is still owed is sent
// before the connection ends.
#include "server/serve_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/net_io.h"
#include "server/inbox.h"
#include "server/net.h"
#include "server/self.h"
#include "server/serve_calls.h"

namespace razivu_tool::serve {
namespace {

// Reply fields held back while the client keeps sending; then they go out.
constexpr std::size_t max_held_fields = 64;
// How long a calendar call that lacks arguments waits for them once the
// client has fallen quiet, before it is answered with r 20: a call travels
// in one piece from any client of the library, so longer than a round trip
// on any network a client would use is ample.
constexpr int32_t argument_grace_ms = 500;
// How long the end of a connection waits for the client to take what was
// sent, and then for its close.
constexpr int32_t linger_ms = 1000;
constexpr double ms_per_second = 1000.0;

using Clock = std::chrono::steady_clock;

// Process-wide: the packed reply on its way out. The message layer hands
// over a piece whenever its buffer fills; the pieces go out together, in
// one send, once the reply is packed. At most max_held_fields fields of at
// most a buffer each.
std::string outbox;

int32_t to_outbox(int32_t, char *buffer, int32_t count) {
    outbox.append(buffer, static_cast<std::size_t>(std::max(count, 0)));
    return count;
}

class Worker {
public:
    Worker(int32_t conn, const Limits &limits, Record &record)
        : conn_(conn), limits_(limits), record_(record), inbox_(conn) {}
    End run();
    void close();

private:
    std::optional<End> settle(net::Ready &ready);
    bool flush();
    bool accept_field(const Field &field);
    void finish_call();
    void take_reply();
    void begin_call();
    void end_unit();
    int32_t unit_ms_left() const;
    End failure(End otherwise) const;

    int32_t conn_;
    const Limits &limits_;
    Record &record_;
    Inbox inbox_;
    std::optional<Call> call_;    // the call being read
    std::vector<Field> reply_;    // reply fields not sent yet
    bool in_unit_ = false;        // a call is under way: the call limit runs
    Clock::time_point unit_end_;  // when it runs out
};

End Worker::run() {
    SetTransport(to_outbox, nullptr, conn_);
    for (;;) {
        net::Ready ready = inbox_.look();
        if (ready == net::Ready::none || reply_.size() >= max_held_fields) {
            if (const std::optional<End> end = settle(ready)) {
                return *end;
            }
        }
        if (ready == net::Ready::end) {
            finish_call();
            return flush() ? End::closed : failure(End::reply_failed);
        }
        if (!in_unit_) {
            begin_call();
        }
        Field field;
        const Inbox::Got got = inbox_.next(field);
        if (got == Inbox::Got::malformed) {
            finish_call();  // what came before it is answered
            return flush() ? End::malformed : failure(End::malformed);
        }
        if (got == Inbox::Got::broke) {
            return failure(End::broke);
        }
        if (field.kind == Kind::function && call_) {
            finish_call();
            if (!flush()) {
                return failure(End::reply_failed);
            }
            if (self::stopping()) {
                return End::stopping;
            }
            begin_call();
        }
        if (!accept_field(field)) {
            return End::malformed;
        }
    }
}

// The client has nothing more waiting (ready is none) or the held replies
// are many. A call still missing arguments gets a moment for them and is
// then refused; everything owed goes out; a quiet client has finished its
// call, and the idle limit runs. ready becomes what came next. The end of
// the connection, or none to go on.
std::optional<End> Worker::settle(net::Ready &ready) {
    if (ready == net::Ready::none && call_ && call_->awaiting()) {
        ready = inbox_.wait(std::min(argument_grace_ms, unit_ms_left()));
        if (ready == net::Ready::none) {
            finish_call();
        }
    }
    if (!flush()) {
        return failure(End::reply_failed);
    }
    if (ready != net::Ready::none) {
        return std::nullopt;
    }
    end_unit();
    if (self::stopping()) {
        return End::stopping;
    }
    ready = inbox_.wait(limits_.idle_ms);
    if (net::deadline_passed() || self::cut_reason() != self::Leave::none) {
        return failure(End::idle);
    }
    return ready == net::Ready::none ? std::optional<End>(End::idle) : std::nullopt;
}

// Sends the reply fields that are ready, in one send. False when one cannot
// be packed (a client may send texts of up to 999 bytes, but a packed field
// carries at most 991: the reply would be wrong, so the connection ends
// instead) or the send failed.
bool Worker::flush() {
    if (reply_.empty()) {
        return true;
    }
    ResetBuffer();
    outbox.clear();
    for (const Field &f : reply_) {
        if (!packs(f) || pack(f) != 0) {
            return false;
        }
    }
    SendBuffer();
    reply_.clear();
    return net::send_all(conn_, outbox.data(), outbox.size());
}

// False for arguments without a call.
bool Worker::accept_field(const Field &field) {
    if (field.kind == Kind::function) {
        record_.begin_call(field.data);
        call_.emplace(field.data);
    } else if (call_) {
        call_->add(field);
    } else {
        return false;
    }
    take_reply();
    return true;
}

// The call is over: a calendar call still short of arguments is refused.
void Worker::finish_call() {
    if (call_) {
        call_->finish();
        take_reply();
    }
}

// Moves the reply fields the call has ready behind those waiting to be sent.
void Worker::take_reply() {
    std::vector<Field> &ready = call_->reply();
    for (const Field &f : ready) {
        if (f.kind == Kind::return_code) {
            record_.return_code(f.number);
        }
    }
    reply_.insert(reply_.end(), ready.begin(), ready.end());
    ready.clear();
}

// The call limit starts afresh with each call, at its first byte.
void Worker::begin_call() {
    in_unit_ = true;
    unit_end_ = Clock::now() + std::chrono::milliseconds(limits_.call_ms);
    net::arm_deadline(conn_, limits_.call_ms);
    self::enter(board::State::in_call);
}

void Worker::end_unit() {
    if (in_unit_) {
        in_unit_ = false;
        net::disarm_deadline();
        self::enter(board::State::idle);
    }
}

int32_t Worker::unit_ms_left() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(unit_end_ - Clock::now());
    return static_cast<int32_t>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// A read or send that failed, or a wait that ended early, because the
// connection was cut: why it was; otherwise what the caller saw.
End Worker::failure(End otherwise) const {
    if (net::deadline_passed()) {
        return End::cut;
    }
    switch (self::cut_reason()) {
    case self::Leave::made_room: return End::made_room;
    case self::Leave::stopping: return End::stopping;
    case self::Leave::at_once: return End::at_once;
    case self::Leave::none: break;
    }
    return otherwise;
}

// What was sent is given time to arrive before it is counted; the client
// then sees the end after it, and its unread bytes are taken.
void Worker::close() {
    net::wait_delivered(conn_, linger_ms);
    record_.bytes(inbox_.bytes_in(), net::bytes_delivered(conn_));
    net::shutdown_send(conn_);
    inbox_.drain(linger_ms);
    record_.bytes(inbox_.bytes_in(), net::bytes_delivered(conn_));
    net::close_socket(conn_);
}

}  // namespace

End serve_calls(int32_t conn, const Limits &limits, Record &record) {
    Worker worker(conn, limits, record);
    self::enter(board::State::waiting);
    const End end = worker.run();
    net::disarm_deadline();
    self::enter(board::State::leaving);
    worker.close();
    return end;
}

std::string ending_text(End end, const Limits &limits) {
    char text[64];
    switch (end) {
    case End::closed: return "closed by the client";
    case End::idle:
        std::snprintf(text, sizeof text, "silent for %g s", limits.idle_ms / ms_per_second);
        return text;
    case End::cut:
        std::snprintf(text, sizeof text, "cut: a call took over %g s", limits.call_ms / ms_per_second);
        return text;
    case End::malformed: return "ended: not a call";
    case End::broke: return "ended: the client left in mid-call";
    case End::reply_failed: return "ended: the reply could not be sent";
    case End::made_room: return "closed to make room for other clients";
    case End::stopping: return "closed: the server stopped";
    case End::at_once: return "cut: the server stopped at once";
    }
    return "ended";
}

Trouble trouble_of(End end) {
    switch (end) {
    case End::cut: return Trouble::cut;
    case End::malformed: return Trouble::malformed;
    case End::broke: return Trouble::broke;
    case End::reply_failed: return Trouble::reply_failed;
    case End::made_room: return Trouble::made_room;
    case End::closed:
    case End::idle:
    case End::stopping:
    case End::at_once: break;
    }
    return Trouble::none;
}

}  // namespace razivu_tool::serve
