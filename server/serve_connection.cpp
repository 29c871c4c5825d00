// A worker's connection: calls read and handed to the handler as they
// arrive, under limits that count whole calls and whole silences.
//
// The handler's decoders read through receive_slot below, which hands them
// the connection's bytes one field at a time and never past the end of the
// call: a decoder that would read into the next call's function name finds
// the end of its data instead, so the next call stays whole, and the server
// keeps its place in the stream whatever the handler reads or leaves. The
// handler's sends go to an outbox that is written to the connection as soon
// as nothing more of the client's is waiting (replies of calls sent back to
// back leave together), before the worker waits for the client, and
// whenever it holds outbox_cap bytes: a client never waits on the server
// guessing where a call ends, and no answered call is held back when what
// follows fails. The client may also close its sending side after its last
// call (as `nc -N` does): the end is seen by looking at the connection
// before each field, and whatever is still owed is sent before the
// connection ends.
#include "server/serve_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "diagnostics/errstack_internal.h"
#include "platform/serving.h"
#include "razivu/razivu.h"
#include "server/fields.h"
#include "server/inbox.h"
#include "server/self.h"

namespace razivu::server {
namespace {

namespace net = platform::net;

// Replies held back while the client keeps sending; then they go out.
constexpr std::size_t outbox_cap = 16384;
// How long a call's next argument is waited for once the client has fallen
// quiet: a call travels in one piece from any client of the library, so
// longer than a round trip on any network a client would use is ample.
constexpr int32_t argument_grace_ms = 500;
// How long the end of a connection waits for the client to take what was
// sent, and then for its close.
constexpr int32_t linger_ms = 1000;
constexpr double ms_per_second = 1000.0;

using Clock = std::chrono::steady_clock;

// What the worker reads next.
enum class Got {
    function,   // a function-name field: name holds it
    argument,   // an argument field, taken
    malformed,  // the bytes are not a field
    broke,      // the connection ended or failed inside the field
};

// The call being served, as the slots see it.
struct CallState {
    std::size_t mark = 0;      // where its reply begins in the outbox
    uint64_t sent = 0;         // bytes the handler sent
    bool on_socket = false;    // some of them have left the outbox
    bool code_seen = false;    // its first bytes were looked at for a return code
    int32_t code = 0;          // the return code they began with
    bool has_code = false;     // they began with one
};

class Worker {
public:
    Worker(int32_t conn, const Limits &limits, const Handler &handler, Record &record)
        : conn_(conn), limits_(limits), handler_(handler), record_(record), inbox_(conn) {}
    End run();
    void close();

    // The transport slots of the handler's calls.
    int32_t take_reply(const char *bytes, int32_t count);
    int32_t hand_out(char *buffer, int32_t count);
    int32_t next_argument();

private:
    std::optional<End> settle(net::Ready &ready);
    Got next_field(std::string &name);
    std::optional<End> serve_call(const std::string &name);
    std::optional<End> after_call(int32_t rc);
    bool argument_header();
    bool skip_rest_of_field();
    bool flush();
    void begin_call();
    void end_unit();
    int32_t unit_ms_left() const;
    bool cut() const;
    End failure(End otherwise) const;

    int32_t conn_;
    const Limits &limits_;
    const Handler &handler_;
    Record &record_;
    Inbox inbox_;
    std::string outbox_;           // reply bytes not sent yet
    CallState call_;               // the call being served
    bool in_call_ = false;         // the handler runs
    bool skipping_ = false;        // arguments that come now belong to a call served already
    uint64_t calls_ = 0;           // calls served
    int32_t field_left_ = 0;       // bytes of the argument being decoded still to hand out
    bool malformed_ = false;       // an argument was not a field
    bool broke_ = false;           // the connection ended or failed inside an argument
    bool send_failed_ = false;     // a reply could not be sent
    bool in_unit_ = false;         // a call is under way: the call limit runs
    Clock::time_point unit_end_;   // when it runs out
};

// Process-wide: the worker serving this process's connection, for the slots.
Worker *current = nullptr;

int32_t send_slot(int32_t, char *buffer, int32_t count) {
    return current != nullptr ? current->take_reply(buffer, count) : -1;
}

int32_t receive_slot(int32_t, char *buffer, int32_t count) {
    return current != nullptr ? current->hand_out(buffer, count) : -1;
}

// The newest record of the error stack, and then an empty stack.
std::string newest_error() {
    ErrorRecord rec{};
    const std::string text = COMPopError(&rec) != 0 && rec.text != nullptr ? rec.text : "";
    while (COMPopError(&rec) != 0) {
    }
    return text;
}

End Worker::run() {
    for (;;) {
        if (cut()) {
            return failure(End::closed);
        }
        net::Ready ready = inbox_.look();
        if (ready == net::Ready::none || outbox_.size() >= outbox_cap) {
            if (const std::optional<End> end = settle(ready)) {
                return *end;
            }
        }
        if (ready == net::Ready::end) {  // or cut while a call was served
            return failure(flush() ? End::closed : End::reply_failed);
        }
        if (!in_unit_) {
            begin_call();
        }
        std::string name;
        switch (next_field(name)) {
        case Got::malformed: return flush() ? End::malformed : failure(End::malformed);
        case Got::broke: return failure(End::broke);
        case Got::argument:
            if (!skipping_) {  // arguments without a call
                return flush() ? End::malformed : failure(End::malformed);
            }
            continue;
        case Got::function: break;
        }
        if (calls_ > 0) {
            if (!flush()) {
                return failure(End::reply_failed);
            }
            if (self::stopping()) {
                return End::stopping;
            }
            begin_call();
        }
        if (const std::optional<End> end = serve_call(name)) {
            return *end;
        }
    }
}

// The client has nothing more waiting (ready is none) or the held replies
// are many: everything owed goes out; a quiet client has finished its call,
// and the idle limit runs. ready becomes what came next. The end of the
// connection, or none to go on.
std::optional<End> Worker::settle(net::Ready &ready) {
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

// A whole field, read by the worker itself between calls.
Got Worker::next_field(std::string &name) {
    if (!inbox_.have(fields::header_len)) {
        return Got::broke;
    }
    if (!fields::is_header(inbox_.front())) {
        return Got::malformed;
    }
    const auto size = static_cast<std::size_t>(fields::size_of(inbox_.front()));
    if (!inbox_.have(size)) {
        return Got::broke;
    }
    const bool function = inbox_.front()[0] == message::tag_function;
    if (function && !fields::function_name(std::string_view(inbox_.front(), size), name)) {
        return Got::malformed;
    }
    inbox_.take(size);
    return function ? Got::function : Got::argument;
}

// The handler runs with this worker's slots, an empty message buffer and
// error stack, and its pushes kept out of the log. No exception of a C++
// handler goes further than here.
std::optional<End> Worker::serve_call(const std::string &name) {
    record_.begin_call(name);
    ++calls_;
    call_ = CallState{outbox_.size()};
    skipping_ = false;
    field_left_ = 0;
    newest_error();
    SetTransport(send_slot, receive_slot, conn_);
    ResetBuffer();
    int32_t rc = -1;
    in_call_ = true;
    {
        const diagnostics::UnloggedPushes unlogged;
        try {
            rc = handler_.call(name.c_str(), handler_.user_data);
        } catch (...) {
            COMPushError(name.c_str(), RAZIVU_E_FAILED);
        }
    }
    in_call_ = false;
    ResetBuffer();  // what was packed and not sent is no reply
    skipping_ = true;
    return after_call(rc);
}

// An unknown function is answered as the handler left it: r 61 alone, in
// place of anything it sent that has not left yet. A call that failed or
// went unanswered ends the connection, without what it sent that has not
// left: the client sees the end rather than a reply cut short.
std::optional<End> Worker::after_call(int32_t rc) {
    const std::string error = newest_error();
    if (call_.has_code && call_.on_socket) {
        record_.return_code(call_.code);  // the client has it, whatever follows
    }
    if (send_failed_) {
        return failure(End::reply_failed);
    }
    if (broke_) {
        return failure(End::broke);
    }
    const bool unknown = rc == RAZIVU_E_NO_FUNCTION && !call_.on_socket;
    if (unknown) {
        outbox_.resize(call_.mark);
        call_.code_seen = false;
        PackReturnCode(RAZIVU_E_NO_FUNCTION);
        SendBuffer();
        ResetBuffer();
    } else if (rc != 0 || call_.sent == 0) {
        outbox_.resize(call_.mark);
        if (rc != 0 && !malformed_) {
            record_.note("returned " + std::to_string(rc) + (error.empty() ? "" : ": " + error));
        }
        const End end = malformed_ ? End::malformed : rc != 0 ? End::failed : End::unanswered;
        return flush() ? failure(end) : failure(End::reply_failed);
    }
    if (call_.has_code) {
        record_.return_code(call_.code);
    }
    if (malformed_) {
        return flush() ? End::malformed : failure(End::malformed);
    }
    if (send_failed_) {
        return failure(End::reply_failed);
    }
    return skip_rest_of_field() ? std::nullopt : std::optional<End>(failure(End::broke));
}

// The first bytes of a call's reply hold its return code, which the line
// shows once the call is answered.
int32_t Worker::take_reply(const char *bytes, int32_t count) {
    if (count <= 0) {
        return count;
    }
    if (!call_.code_seen && count >= fields::header_len && bytes[0] == message::tag_return) {
        call_.code = message::parse_slot(bytes + 1);
        call_.has_code = true;
    }
    call_.code_seen = true;
    call_.sent += static_cast<uint64_t>(count);
    outbox_.append(bytes, static_cast<std::size_t>(count));
    if (outbox_.size() >= outbox_cap && !flush()) {
        send_failed_ = true;
        return -1;
    }
    return count;
}

// A decoder asks for a header (7 bytes) at the start of a field, then for
// exactly the rest of it; any other count is out of step and refused
// without taking anything. The end of the call's arguments reads as the end
// of the data.
int32_t Worker::hand_out(char *buffer, int32_t count) {
    if (!in_call_ || count <= 0) {
        return -1;
    }
    const bool header = field_left_ == 0;
    if (header) {
        if (count != fields::header_len) {
            return -1;
        }
        if (!argument_header()) {
            return malformed_ || broke_ || send_failed_ ? -1 : 0;
        }
        field_left_ = fields::size_of(inbox_.front());
    } else if (count != field_left_) {
        return -1;
    }
    if (inbox_.held() < static_cast<std::size_t>(count) && !flush()) {
        send_failed_ = true;
        return -1;
    }
    if (!inbox_.have(static_cast<std::size_t>(count))) {
        broke_ = true;
        return -1;
    }
    std::copy_n(inbox_.front(), count, buffer);
    inbox_.take(static_cast<std::size_t>(count));
    field_left_ -= count;
    if (!header && buffer[count - 1] != message::separator) {
        malformed_ = true;  // a field that does not end where its header says
    }
    return count;
}

int32_t Worker::next_argument() {
    if (!in_call_) {
        return -1;
    }
    if (!skip_rest_of_field()) {
        broke_ = true;
        return -1;
    }
    if (argument_header()) {
        return static_cast<unsigned char>(inbox_.front()[0]);
    }
    return malformed_ || broke_ || send_failed_ ? -1 : 0;
}

// True when the header of the call's next argument is held: false at the
// next call's function name, the client's end, half a second of quiet
// before the next field begins (the replies owed go out first), or bytes
// that are not a header. A field begun is waited for as long as the call
// limit lets it take.
bool Worker::argument_header() {
    while (inbox_.held() < static_cast<std::size_t>(fields::header_len)) {
        if (!flush()) {
            send_failed_ = true;
            return false;
        }
        const bool begun = inbox_.held() > 0;
        if (!begun && inbox_.wait_more(std::min(argument_grace_ms, unit_ms_left())) != net::Ready::data) {
            broke_ = cut();
            return false;
        }
        if (!inbox_.read_more()) {
            broke_ = begun;
            return false;
        }
    }
    if (inbox_.front()[0] == message::tag_function) {
        return false;
    }
    malformed_ = !fields::is_header(inbox_.front());
    return !malformed_;
}

// What a handler left unread of the argument it began.
bool Worker::skip_rest_of_field() {
    if (field_left_ == 0) {
        return true;
    }
    const auto rest = static_cast<std::size_t>(field_left_);
    field_left_ = 0;
    if (!inbox_.have(rest)) {
        return false;
    }
    inbox_.take(rest);
    return true;
}

// Sends the replies held, in one send. From then on the call's reply has
// begun to leave.
bool Worker::flush() {
    if (outbox_.empty()) {
        return true;
    }
    call_.on_socket = call_.on_socket || outbox_.size() > call_.mark;
    call_.mark = 0;
    const bool sent = net::send_all(conn_, outbox_.data(), outbox_.size());
    outbox_.clear();
    return sent;
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

// The connection was cut from outside its calls, or by the call limit. A
// socket shut down under a wait does not always read as ended afterwards
// (Wine's select does not see it), so this is asked rather than the socket.
bool Worker::cut() const {
    return net::deadline_passed() || self::cut_reason() != self::Leave::none;
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

// The thread's transport is the caller's again afterwards: a process that
// served one connection goes on as it was.
End serve_calls(int32_t conn, const Limits &limits, const Handler &handler, Record &record) {
    const RazivuTransportFn send_before = message::send_slot();
    const RazivuTransportFn receive_before = message::receive_slot();
    const int32_t socket_before = GetSocket();
    Worker worker(conn, limits, handler, record);
    current = &worker;
    self::enter(board::State::waiting);
    const End end = worker.run();
    net::disarm_deadline();
    self::enter(board::State::leaving);
    worker.close();
    current = nullptr;
    ResetBuffer();
    message::put_transport(send_before, receive_before, socket_before);
    return end;
}

int32_t argument_type() {
    return current != nullptr ? current->next_argument() : -1;
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
    case End::failed: return "ended: the call failed";
    case End::unanswered: return "ended: the call was not answered";
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
    case End::failed:
    case End::unanswered: return Trouble::failed;
    case End::made_room: return Trouble::made_room;
    case End::closed:
    case End::idle:
    case End::stopping:
    case End::at_once: break;
    }
    return Trouble::none;
}

}  // namespace razivu::server
