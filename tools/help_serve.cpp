// The help of `razivu serve`. It belongs beside the server's own option
// parsing in cmd_serve.cpp (whose usage text it should replace, through
// usage_error(serve_help, ...) of options.h); it stands here until then.
#include "commands.h"

namespace razivu_tool {
namespace {

const Option options[] = {
    {"--port", nullptr, "N", "listen on port N instead of a SERVICE's port"},
    {"--workers", nullptr, "N", "serve at most N connections at once (default 32)"},
    {"--idle", nullptr, "SECONDS",
     "close a connection silent this long between fields (default 30)"},
};

}  // namespace

const Help serve_help{
    "serve",
    "SERVICE | --port N",
    "run a demonstration server for old clients",
    "Listens on all interfaces and answers these calls; a call ends where the next\n"
    "function name begins, so a connection may carry any number of calls:\n"
    "  Echo (any fields)                       10, then every argument echoed\n"
    "  VIZIIsLeapYear (i year)                 10, i 1 or 0\n"
    "  VIZIIsDateValid (i day, month, year)    10, i 1 or 0\n"
    "  VIZIGetDaysSince1900 (i day, month, year)  10, i day number (22 alone past 7 digits)\n"
    "  VIZIGetDMYFromDaysSince1900 (i days)    10, i status, i day, i month, i year\n"
    "  any other name                          61\n"
    "A calendar call with a missing or non-integer argument is answered with 20 alone.\n"
    "Each connection is served by a worker process of its own; a client that sends\n"
    "something that is not a field, or stalls in the middle of one, is disconnected.\n"
    "SIGTERM or SIGINT stops the server.",
    options,
    Operands::none};

}  // namespace razivu_tool
