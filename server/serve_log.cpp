// The per-connection line and the server's log entries.
#include "server/serve_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "platform/serving.h"
#include "server/board.h"

namespace razivu::server {
namespace {

namespace net = platform::net;

// Kinds of call (function name and return code) a line names one by one.
constexpr std::size_t tally_cap = 8;
// Characters of a client's function name that a line shows.
constexpr std::size_t shown_name_cap = 40;
// Room for one formatted log message.
constexpr std::size_t log_message_cap = 1024;
// Lines of one kind of trouble written in a window; the rest are counted.
constexpr uint32_t lines_per_window = 10;
constexpr board::Ms window_ms = 60 * 1000;
// The budget that counts the lines standard error could not take.
constexpr std::size_t dropped_budget = static_cast<std::size_t>(Trouble::unserved) + 1;
static_assert(dropped_budget < board::budget_kinds);

// What a summary says each kind of line was, by Trouble and then the lines
// standard error left out.
constexpr const char *left_out_texts[] = {
    "",
    "cut: a call took over the call time",
    "ended: not a call",
    "ended: the client left in mid-call",
    "ended: the reply could not be sent",
    "ended: a call failed or was not answered",
    "closed to make room for other clients",
    "refused: the address held its share of workers",
    "closed while waiting for a worker",
    "",
};
static_assert(std::size(left_out_texts) == dropped_budget + 1);

// Characters of a note that a line shows.
constexpr std::size_t shown_note_cap = 160;

// A client chooses its function names: control characters, blanks and
// anything beyond ASCII could forge or break a line, so they show as '?'
// (in a note, which may quote them, blanks stay).
std::string printable(const std::string &text, std::size_t cap, char lowest_kept) {
    std::string out = text.substr(0, cap);
    for (char &c : out) {
        if (c < lowest_kept || c > '~') {
            c = '?';
        }
    }
    return out;
}

std::string printable_name(const std::string &name) {
    const std::string out = printable(name, shown_name_cap, '!');
    return out.empty() ? "\"\"" : out;
}

// Process-wide: the name set_name gave, for every process of the server.
struct Naming {
    std::string name;  // set by every run
};
Naming naming;

// 6512 as "6,512".
std::string grouped(uint32_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

void to_stderr(const std::string &line) {
    if (!net::write_line(line)) {
        ++board::board().budgets[dropped_budget].left_out;
    }
}

// True when a line of this kind may be written in this window; it is
// counted as left out otherwise.
bool within_budget(Trouble trouble) {
    board::Budget &b = board::board().budgets[static_cast<std::size_t>(trouble)];
    if (b.written++ < lines_per_window) {
        return true;
    }
    ++b.left_out;
    return false;
}

}  // namespace

Record::Record(std::string peer) : peer_(std::move(peer)), start_(std::chrono::steady_clock::now()) {}

void Record::begin_call(const std::string &name) {
    close_call();
    in_call_ = true;
    name_ = printable_name(name);
    answered_ = false;
}

void Record::return_code(int32_t code) {
    if (in_call_ && !answered_) {
        code_ = code;
        answered_ = true;
    }
}

void Record::close_call() {
    if (!in_call_) {
        return;
    }
    in_call_ = false;
    for (Tally &t : tallies_) {
        if (t.name == name_ && t.answered == answered_ && (!answered_ || t.code == code_)) {
            ++t.n;
            return;
        }
    }
    if (tallies_.size() < tally_cap) {
        tallies_.push_back(Tally{name_, code_, answered_, 1});
    } else {
        ++untallied_;
    }
}

void Record::note(std::string why) {
    note_ = printable(why, shown_note_cap, ' ');
}

void Record::bytes(uint64_t in, int64_t out) {
    in_ = in;
    out_ = out;
}

std::string Record::line(const std::string &ending) {
    close_call();
    std::string calls;
    for (const Tally &t : tallies_) {
        calls += (calls.empty() ? "" : ", ") + t.name + " " +
                 (t.answered ? std::to_string(t.code) : std::string("-")) +
                 (t.n > 1 ? " x" + std::to_string(t.n) : std::string());
    }
    if (untallied_ > 0) {
        calls += ", " + std::to_string(untallied_) + " more";
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    char bytes[64] = "bytes not counted";
    if (out_ >= 0) {
        std::snprintf(bytes, sizeof bytes, "%llu bytes in, %lld out", static_cast<unsigned long long>(in_),
                      static_cast<long long>(out_));
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, "; %s; %.3f s; ", bytes, took.count());
    return peer_ + " " + (calls.empty() ? "no calls" : calls) + tail + ending +
           (note_.empty() ? std::string() : " (" + note_ + ")");
}

std::string refusal_line(const std::string &peer, std::size_t workers, std::size_t waiting) {
    return peer + " refused: " +
           (waiting > 0 ? std::to_string(waiting) + " connections of this address wait already"
                        : std::to_string(workers) + " workers serve this address already");
}

void report(const std::string &line, Trouble trouble, bool quiet) {
    if (trouble == Trouble::none) {
        if (!quiet) {
            to_stderr(iso_time() + " " + line + "\n");
        }
        return;
    }
    if (within_budget(trouble)) {
        to_stderr(iso_time() + " " + line + "\n");
        log_entry(RAZIVU_LOG_WARNING, "%s", line.c_str());
    }
}

void summarise(bool final) {
    for (std::size_t kind = 1; kind <= dropped_budget; ++kind) {
        board::Budget &b = board::board().budgets[kind];
        if (!final && board::age(b.start) < window_ms) {
            continue;
        }
        b.start = board::now();
        b.written = 0;
        const uint32_t n = b.left_out.exchange(0);
        if (n > 0) {
            const std::string text =
                kind == dropped_budget
                    ? grouped(n) + " lines left out in the last minute: standard error could not take them"
                    : "\u2026 and " + grouped(n) + " more like this in the last minute (" + left_out_texts[kind] + ")";
            log_entry(RAZIVU_LOG_WARNING, "%s", text.c_str());
            net::write_line(iso_time() + " " + text + "\n");
        }
    }
}

void log_entry(int32_t level, const char *format, ...) {
    char message[log_message_cap];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    WriteLog(board::shared() ? server_log : connection_log, GetVersionString(), level, "%s: %s",
             naming.name.c_str(), message);
}

void set_name(const char *name) {
    naming.name = name;
}

const std::string &name() {
    return naming.name;
}

// The calendar arithmetic of <chrono>: no call of the system's beyond the clock.
std::string iso_time() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{now - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

}  // namespace razivu::server
