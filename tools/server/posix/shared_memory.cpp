// The board's memory on Linux: an anonymous shared mapping, which every
// worker forked after it inherits.
#include "server/board.h"

#include <sys/mman.h>

namespace razivu_tool::board {

void *shared_memory() {
    void *p = ::mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return p != MAP_FAILED ? p : nullptr;
}

}  // namespace razivu_tool::board
