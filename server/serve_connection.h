// One connection of the server, as its worker serves it: calls until the
// client leaves, falls silent or takes too long over a call, a call fails,
// or the server needs the worker back or stops.
//
// A call is a function-name field and its argument fields. The worker reads
// the name itself and hands it to the handler, which decodes the arguments
// with the message layer's decoders, reading from the connection through
// the worker (argument_type() looks at the next one first), and packs and
// sends its reply. The server never needs to know how many arguments a
// function takes: a call's arguments end where the next function-name field
// begins, where the client closes its sending side, or where it has sent
// nothing for half a second; what a handler left unread of them is skipped.
#pragma once

#include <cstdint>
#include <string>

#include "server/serve_log.h"

namespace razivu::server {

// Time limits, counted over whole units, never restarted by a single byte.
struct Limits {
    // From the first byte of a call until all of it has arrived and been
    // answered; a client that drips a call or does not read its reply is cut.
    int32_t call_ms;
    // Silence between calls before the connection is closed.
    int32_t idle_ms;
};

// The user's function: 0 when it answered, RAZIVU_E_NO_FUNCTION when it does
// not know the function (the worker answers r 61), anything else when the
// call failed.
struct Handler {
    int32_t (*call)(const char *function, void *user_data);
    void *user_data;
};

enum class End {
    closed,        // the client closed its side; everything sent was answered
    idle,          // silent between calls for the idle limit
    cut,           // a call outlasted the call limit
    malformed,     // something that is not a call
    broke,         // the client left or the connection broke in mid-call
    reply_failed,  // a reply could not be sent
    failed,        // the handler failed a call
    unanswered,    // the handler said it answered a call, and sent nothing
    made_room,     // the server needed the worker for another client
    stopping,      // the server stops: the calls under way were finished
    at_once,       // the server stopped at once
};

// Serves calls on conn with handler, noting them and the bytes in record,
// and ends the connection: every reply owed goes out first (a reply of a
// call that failed does not, as far as it has not left yet), the client's
// unread bytes are drained (a close with unread bytes would reset the
// connection and could lose replies on their way), and the bytes out are
// those that reached it. Closes conn.
End serve_calls(int32_t conn, const Limits &limits, const Handler &handler, Record &record);

// For a handler, while its call is served: the type tag of the call's next
// argument ('s', 'i', 'b', 'a' or 'r'), waiting for it as a decoder would;
// 0 when the call has no more; -1 outside a call or when the connection
// failed or what came is not a field.
int32_t argument_type();

// How a connection ended, in words for its line.
std::string ending_text(End end, const Limits &limits);
// What a line of that ending is, for the bound on lines of trouble.
Trouble trouble_of(End end);

}  // namespace razivu::server
