// A worker's connection: calls read field by field and answered as they
// arrive, under limits that count whole calls and whole silences.
//
// Reply fields go out as soon as nothing more of the client's is waiting, so
// a client never waits on the server guessing where a call ends. The client
// may also close its sending side after its last call (as `nc -N` does): the
// end is seen by looking at the connection before each field, and whatever
// is still owed is sent before the worker ends.
#include "server/serve_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/fields.h"
#include "server/net.h"
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
constexpr double ms_per_second = 1000.0;

using Clock = std::chrono::steady_clock;

// Empties the error stack; every entry is in the error log already. True
// when an entry says that the connection itself failed (a system call, or
// the peer gone in mid-read), rather than what came over it.
bool drain_errors() {
    bool connection_failed = false;
    for (ErrorRecord rec{}; COMPopError(&rec) != 0;) {
        connection_failed = connection_failed || rec.kind == RAZIVU_KIND_SYSTEM ||
                            (rec.kind == RAZIVU_KIND_LIBRARY && rec.code == RAZIVU_E_FAILED);
    }
    return connection_failed;
}

class Worker {
public:
    Worker(int32_t conn, const Limits &limits, Record &record)
        : conn_(conn), limits_(limits), record_(record) {}
    End run();

private:
    bool settle(net::Ready &ready);
    bool flush();
    bool accept_field(const Field &field);
    void take_reply();
    void note_bytes();
    void begin_unit();
    void end_unit();
    int32_t unit_ms_left() const;
    // What the client sent that no field has taken yet: bytes the library
    // read ahead first, then what the socket holds.
    net::Ready look() const {
        return COMGetSockReadAhead(conn_) > 0 ? net::Ready::data : net::peek(conn_);
    }
    net::Ready wait(int32_t ms) const {
        return COMGetSockReadAhead(conn_) > 0 ? net::Ready::data : net::wait_for_data(conn_, ms);
    }
    End failure(End otherwise) const { return net::deadline_passed() ? End::cut : otherwise; }

    int32_t conn_;
    const Limits &limits_;
    Record &record_;
    std::optional<Call> call_;   // the call being read
    std::vector<Field> reply_;   // reply fields not sent yet
    bool in_unit_ = false;       // a call is under way: the call limit runs
    Clock::time_point unit_end_;  // when it runs out
};

End Worker::run() {
    SetTransport(COMSend, COMReceive, conn_);
    // One read serves a whole call (the connection is this worker's alone).
    COMSetSockReadAhead(conn_, 1);
    for (;;) {
        net::Ready ready = look();
        if ((ready == net::Ready::none || reply_.size() >= max_held_fields) && !settle(ready)) {
            return failure(End::reply_failed);
        }
        if (net::deadline_passed()) {
            return End::cut;
        }
        if (ready == net::Ready::none) {
            return End::idle;
        }
        if (ready == net::Ready::end) {
            if (call_) {
                call_->finish();
                take_reply();
            }
            return flush() ? End::closed : failure(End::reply_failed);
        }
        begin_unit();
        Field field;
        if (read_field(conn_, field) != ReadResult::field) {
            return failure(drain_errors() ? End::broke : End::malformed);
        }
        if (!accept_field(field)) {
            return End::malformed;
        }
    }
}

// The client has nothing more waiting (ready is none) or the held replies
// are many. A call still missing arguments gets a moment for them and is
// then refused; everything owed goes out; a quiet client has finished its
// call, and the idle limit runs. ready becomes what came next. False when
// the reply could not be sent.
bool Worker::settle(net::Ready &ready) {
    if (ready == net::Ready::none && call_ && call_->awaiting()) {
        ready = wait(std::min(argument_grace_ms, unit_ms_left()));
        if (ready == net::Ready::none) {
            call_->finish();
            take_reply();
        }
    }
    if (!flush()) {
        return false;
    }
    if (ready == net::Ready::none) {
        end_unit();
        ready = wait(limits_.idle_ms);
    }
    return true;
}

// Sends the reply fields that are ready, in one message piece where they fit.
// False when one cannot be packed (a client may send texts of up to 999
// bytes, but a packed field carries at most 991: the reply would be wrong,
// so the connection ends instead) or the send failed.
bool Worker::flush() {
    if (reply_.empty()) {
        return true;
    }
    drain_errors();
    ResetBuffer();
    for (const Field &f : reply_) {
        if (pack(f) != 0) {
            return false;
        }
    }
    SendBuffer();
    reply_.clear();
    note_bytes();
    return COMErrorStackIsEmpty() != 0;
}

// False for arguments without a call.
bool Worker::accept_field(const Field &field) {
    if (field.kind == Kind::function) {
        if (call_) {
            call_->finish();
            take_reply();
        }
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

// A read that fails closes the connection and its counts with it, so they
// are noted as a call begins and after each reply.
void Worker::note_bytes() {
    record_.bytes(net::counts(conn_));
}

void Worker::begin_unit() {
    if (!in_unit_) {
        note_bytes();
        in_unit_ = true;
        unit_end_ = Clock::now() + std::chrono::milliseconds(limits_.call_ms);
        net::arm_deadline(conn_, limits_.call_ms);
    }
}

void Worker::end_unit() {
    if (in_unit_) {
        in_unit_ = false;
        net::disarm_deadline();
    }
}

int32_t Worker::unit_ms_left() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(unit_end_ - Clock::now());
    return static_cast<int32_t>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

End serve_calls(int32_t conn, const Limits &limits, Record &record) {
    Worker worker(conn, limits, record);
    const End end = worker.run();
    net::disarm_deadline();
    record.bytes(net::counts(conn));
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
    }
    return "ended";
}

}  // namespace razivu_tool::serve
