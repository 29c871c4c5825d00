// The board's memory on Linux: an anonymous shared mapping, which every
// worker forked after it inherits.
#include <sys/mman.h>

#include "platform/posix/serve_internal.h"

namespace razivu::platform::serving {

void *shared_memory(std::size_t size) {
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return p != MAP_FAILED ? p : nullptr;
}

void release_shared(void *memory, std::size_t size) {
    if (memory != nullptr) {
        ::munmap(memory, size);
    }
}

}  // namespace razivu::platform::serving
