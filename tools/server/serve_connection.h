// One connection of `razivu serve`, as its worker serves it: calls until the
// client leaves, falls silent or takes too long over a call, or the server
// needs the worker back or stops.
#pragma once

#include <cstdint>
#include <string>

#include "server/serve_log.h"

namespace razivu_tool::serve {

// Time limits, counted over whole units, never restarted by a single byte.
struct Limits {
    // From the first byte of a call until all of it has arrived and been
    // answered; a client that drips a call or does not read its reply is cut.
    int32_t call_ms;
    // Silence between calls before the connection is closed.
    int32_t idle_ms;
};

enum class End {
    closed,        // the client closed its side; everything sent was answered
    idle,          // silent between calls for the idle limit
    cut,           // a call outlasted the call limit
    malformed,     // something that is not a call
    broke,         // the client left or the connection broke in mid-call
    reply_failed,  // a reply could not be packed or sent
    made_room,     // the server needed the worker for another client
    stopping,      // the server stops: the calls under way were finished
    at_once,       // the server stopped at once
};

// Serves calls on conn, noting them and the bytes in record, and ends the
// connection: every reply owed goes out first, the client's unread bytes are
// drained (a close with unread bytes would reset the connection and could
// lose replies on their way), and the bytes out are those that reached it.
// Closes conn.
End serve_calls(int32_t conn, const Limits &limits, Record &record);

// How a connection ended, in words for its line.
std::string ending_text(End end, const Limits &limits);
// What a line of that ending is, for the bound on lines of trouble.
Trouble trouble_of(End end);

}  // namespace razivu_tool::serve
