// The board the processes of the server share: see board.h.
#include "server/board.h"

#include <chrono>
#include <new>

namespace razivu::server::board {
namespace {

// Process-wide: the board in use, and the one a process has before it
// attaches to a shared one.
struct Boards {
    Board own;
    Board *current = &own;
};
Boards boards;

}  // namespace

Ms now() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<Ms>(ms.count());
}

Ms age(Ms since) {
    return now() - since;
}

Board &board() {
    return *boards.current;
}

void attach(void *shared, bool fresh) {
    boards.current = fresh ? new (shared) Board : static_cast<Board *>(shared);
}

void detach() {
    boards.current = &boards.own;
    new (&boards.own) Board;
}

bool shared() {
    return boards.current != &boards.own;
}

}  // namespace razivu::server::board

