// What `razivu serve` tells its operator: one line per connection on
// standard error, and entries in the server's log, the error log
// "errstack.txt" that the library's pushes go to as well.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "server/net.h"

namespace razivu_tool::serve {

// What one connection did, gathered while it is served.
class Record {
public:
    explicit Record(std::string peer);
    // A call of the named function began.
    void begin_call(const std::string &name);
    // A return code of the current call; its first one is the call's.
    void return_code(int32_t code);
    // The connection's byte counts so far. They are taken now and then, as a
    // connection that breaks loses them; the largest seen count.
    void bytes(const net::Counts &counts);
    // The connection's line: time, peer, calls by function and return code,
    // bytes, duration and how it ended.
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
    uint64_t out_ = 0;             // bytes sent to it
    bool counted_ = false;         // the system counts them
};

// The line of a connection refused because its address has `serving`
// workers already.
std::string refusal_line(const std::string &peer, int serving);

// Writes an entry to the server's log with the library's log writer. A
// process's first entry empties the file and heads it (so the listening
// process writes one before the first worker starts, and workers only ever
// append).
void log_entry(int32_t level, const char *format, ...) RAZIVU_PRINTF(2, 3);

// The file log_entry writes to.
constexpr const char *server_log = "errstack.txt";

}  // namespace razivu_tool::serve
