// The per-connection line and the server's log entries of `razivu serve`.
#include "server/serve_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace razivu_tool::serve {
namespace {

// Kinds of call (function name and return code) a line names one by one.
constexpr std::size_t tally_cap = 8;
// Characters of a client's function name that a line shows.
constexpr std::size_t shown_name_cap = 40;
// Room for one formatted log message.
constexpr std::size_t log_message_cap = 1024;

// A client chooses its function names: control characters, blanks and
// anything beyond ASCII could forge or break a line, so they show as '?'.
std::string printable(const std::string &name) {
    std::string out = name.substr(0, shown_name_cap);
    for (char &c : out) {
        if (c <= ' ' || c > '~') {
            c = '?';
        }
    }
    return out.empty() ? "\"\"" : out;
}

std::string stamp() {
    const char *text = GetLogTimestamp();
    return text != nullptr ? text : "[no time]";
}

}  // namespace

Record::Record(std::string peer) : peer_(std::move(peer)), start_(std::chrono::steady_clock::now()) {}

void Record::begin_call(const std::string &name) {
    close_call();
    in_call_ = true;
    name_ = printable(name);
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

void Record::bytes(const net::Counts &counts) {
    in_ = std::max(in_, counts.in);
    out_ = std::max(out_, counts.out);
    counted_ = counted_ || counts.counted;
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
    if (counted_) {
        std::snprintf(bytes, sizeof bytes, "%llu bytes in, %llu out",
                      static_cast<unsigned long long>(in_), static_cast<unsigned long long>(out_));
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, "; %s; %.3f s; ", bytes, took.count());
    return stamp() + " " + peer_ + " " + (calls.empty() ? "no calls" : calls) + tail + ending + "\n";
}

std::string refusal_line(const std::string &peer, int serving) {
    return stamp() + " " + peer + " refused: " + std::to_string(serving) +
           " workers serve this address already\n";
}

void log_entry(int32_t level, const char *format, ...) {
    char message[log_message_cap];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    WriteLog(server_log, GetVersionString(), level, "%s", message);
}

}  // namespace razivu_tool::serve
