// What the Linux side of serving.h shares among its files: the signal
// handlers it puts in place and the settings it changes, each kept as it
// was the first time, so that workers::finish() can put it back.
#pragma once

#include <cstddef>

namespace razivu::platform::serving {

// Sets the handler of sig (SA_RESTART; the server's other signals blocked
// while it runs), keeping the disposition it had before the first change.
void set_handler(int sig, void (*fn)(int));
// Puts back every disposition set_handler changed.
void restore_handlers();
// Disarms the deadline's timer; its SIGALRM handler goes with restore_handlers.
void end_deadline();
// Puts back the descriptor limit socket_room() raised.
void restore_socket_room();
// Memory of size bytes that the processes forked from now on share; nullptr
// when the system gives none.
void *shared_memory(std::size_t size);
void release_shared(void *memory, std::size_t size);

}  // namespace razivu::platform::serving
