// The reply of `razivu call`, read under one deadline and within a limit.
//
// The decoders ask the receive slot for exact counts (7 header bytes, then
// the data); through the library's exact-count read, a server that stops in
// the middle of a field would hold that read for ever. This reader takes
// whatever bytes have arrived, never waiting past the deadline, and hands
// the decoders exact counts from what it holds. It keeps the cause of the
// first failure itself, so no later push or trace line can lose it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace razivu_tool::reply {

using Clock = std::chrono::steady_clock;
// A deadline that never comes.
constexpr Clock::time_point no_deadline = Clock::time_point::max();

enum class Stop {
    none,       // nothing went wrong yet
    closed,     // the server closed the connection
    failed,     // the connection failed (reset, ...)
    timed_out,  // the deadline passed
    too_large,  // the reply passed max_bytes
};

// Reads from socket from now on. Bytes received are shown on verbose when
// it is not null.
void start(int32_t socket, Clock::time_point deadline, uint64_t max_bytes, std::FILE *verbose);

// The receive slot: count bytes, or -1 once the reply cannot go on (stop()
// says why; the socket stays open for the caller to close).
int32_t receive(int32_t socket, char *buffer, int32_t count);

// True when a byte is held or arrives within ms (and before the deadline).
bool wait(int32_t ms);

// Bytes handed to the decoders so far: the offset of the next field.
uint64_t offset();

// Bytes received in all, also those not handed out yet.
uint64_t received();

Stop stop();
// What stopped the reply, for a message: "the server closed the connection",
// the system's text of a failure, ...
std::string why();

}  // namespace razivu_tool::reply
