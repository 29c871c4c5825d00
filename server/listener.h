// The listening process of the server: takes every connection at once,
// gives each a worker (admission.h says who, under pressure), keeps the
// limits under pressure, and stops in two steps: the first request to stop
// lets the calls under way finish, a second cuts them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serving.h"

namespace razivu::server {

struct ListenerConfig {
    std::size_t workers;      // connections served at once
    std::size_t per_address;  // workers and waiting connections one address may hold
    int32_t call_ms;          // the call limit
    int32_t idle_ms;          // the idle limit, also before the first byte
    bool quiet;               // lines only for trouble
};

enum class Stopped {
    requested,         // by a signal or razivu_server_stop
    listening_failed,  // the listening socket failed
};

// How many stops have been asked for, by signal and by razivu_server_stop
// (server.cpp).
int stop_requests();

// Serves connections on listening with serve in workers until a stop is
// requested and every worker has ended. workers::start() has run.
Stopped listen_and_serve(int32_t listening, const ListenerConfig &config, platform::workers::ServeFn serve);

}  // namespace razivu::server
