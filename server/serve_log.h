// What the server tells its operator: one line per connection on standard
// error, each with its time in ISO 8601 (UTC, milliseconds), and entries in
// the server's log, the library's error log "errstack.txt".
//
// Whatever clients do, both stay bounded: a connection that ends in trouble
// has its line and a WARNING entry only while its kind of trouble has had
// fewer than ten in the last minute; the rest are counted, and once the
// minute is over one line says how many were left out. Nothing a client
// sends reaches a library call that would log an error of its own: the
// server reads whole fields before any decoder does (fields.h), and a
// handler's pushes stay out of the log (diagnostics/errstack_internal.h).
// A line standard error cannot take at once
// is left out and counted the same way, so a reader who does not read
// never holds the server up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <razivu/razivu.h>

namespace razivu::server {

// What one connection did, gathered while it is served.
class Record {
public:
    explicit Record(std::string peer);
    // A call of the named function began.
    void begin_call(const std::string &name);
    // A return code of the current call; its first one is the call's.
    void return_code(int32_t code);
    // Bytes received from the client, and those that reached it (-1: the
    // system does not count them).
    void bytes(uint64_t in, int64_t out);
    // Why it ended, beyond the words of its ending: said after them.
    void note(std::string why);
    // The connection's line without its time: peer, calls by function and
    // return code, bytes, duration and how it ended.
    std::string line(const std::string &ending);

private:
    struct Tally {
        std::string name;
        int32_t code;      // the calls' return code
        bool answered;     // false: the calls ended before a return code
        uint64_t n;        // calls with this name and code
    };
    void close_call();

    std::string peer_;
    std::chrono::steady_clock::time_point start_;
    std::vector<Tally> tallies_;   // a few kinds of call, in the order first met
    uint64_t untallied_ = 0;       // calls of further kinds
    bool in_call_ = false;         // a call is open
    std::string name_;             // its function name, made printable
    int32_t code_ = 0;             // its return code
    bool answered_ = false;        // it has one
    uint64_t in_ = 0;              // bytes received from the client
    int64_t out_ = -1;             // bytes that reached it; -1: not counted
    std::string note_;             // said after the ending, made printable
};

// The line of a connection refused because its address holds its share of
// workers, or of the room to wait for one (waiting > 0).
std::string refusal_line(const std::string &peer, std::size_t workers, std::size_t waiting);

// What went wrong with a connection, for the bound on lines and entries.
enum class Trouble {
    none,          // it ended as connections do
    cut,           // a call outlasted the call limit
    malformed,     // it sent something that is not a call
    broke,         // the client left in mid-call
    reply_failed,  // a reply could not be sent
    failed,        // the handler failed a call or did not answer it
    made_room,     // closed to make room for other clients
    refused,       // its address held its share of workers
    unserved,      // closed while waiting for a worker
};

// Writes a connection's line (from Record::line or refusal_line) to
// standard error, unless quiet and it ended without trouble; trouble also
// makes a WARNING entry in the log. Both within the bound above.
void report(const std::string &line, Trouble trouble, bool quiet);
// Says how many lines of each kind were left out, for every kind whose
// minute is over (for every kind when final, at the stop). The listening
// process calls it now and then.
void summarise(bool final);

// The server's name, which its own lines and log entries begin with.
void set_name(const char *name);
const std::string &name();

// The time now as ISO 8601 in UTC with milliseconds: 2026-12-06T18:09:52.931Z.
std::string iso_time();

// Writes an entry, "<name>: " and the message, to the server's log with
// the library's log writer. A
// process's first entry empties the file and heads it (so the listening
// process writes one before the first worker starts, and workers only ever
// append). A process that serves one connection without a listening process
// (one per connection, from the service manager) has no bound shared with
// the others, so it writes to a file of its own, which its first entry
// empties.
void log_entry(int32_t level, const char *format, ...) RAZIVU_PRINTF(2, 3);

// The files log_entry writes to.
constexpr const char *server_log = "errstack.txt";
constexpr const char *connection_log = "serve-connection.txt";

}  // namespace razivu::server
