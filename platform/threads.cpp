// The kinds of per-thread block and the freeing of a thread's record, the
// same on every platform; posix/ and win32/ keep the record and the locks.
#include <atomic>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/system_calls.h"
#include "platform/threads.h"

namespace razivu::platform {
namespace {

// Kinds are made by static objects at load, so the table is complete before
// any thread can end.
struct Kinds {
    std::atomic<std::size_t> made{0};
    ThreadKind::Free free[thread_block_kinds] = {};
};
Kinds kinds;

}  // namespace

ThreadKind::ThreadKind(Free free) : index_(kinds.made++) {
    if (index_ >= thread_block_kinds) {
        std::abort();  // a kind beyond the table is a fault of the library's own build
    }
    kinds.free[index_] = free;
}

void free_thread_record(ThreadRecord *record) {
    for (std::size_t i = 0; i < thread_block_kinds; ++i) {
        if (record->blocks[i] != nullptr) {
            kinds.free[i](record->blocks[i]);
        }
    }
    delete record;
}

}  // namespace razivu::platform
