// Threads: per-thread blocks of state, freed when their thread ends, and the
// process-wide locks, which a fork leaves usable in the child.
//
// The library keeps the state of a call in progress (the message buffer, the
// decoding position, the error stack) per thread, and the tables the whole
// process shares (handles, read-ahead buffers, the trace file) behind a Lock.
// No Lock is held across a blocking system call or while another is taken,
// so that no two of them can ever wait for each other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace razivu::platform {

// ---- Per-thread blocks ----------------------------------------------------------

// How many kinds of per-thread block the library has at most.
constexpr std::size_t thread_block_kinds = 8;

// One thread's blocks, by kind; null until a kind's first use on the thread.
struct ThreadRecord {
    void *blocks[thread_block_kinds] = {};
};

// The calling thread's record, made on its first use; when the thread ends,
// every block in it is freed by its kind's free function, then the record.
// On Linux the record's address is kept in static thread-local storage as
// well, so that finding it is a single load on every call into the library.
#if defined(_WIN32)
ThreadRecord &this_thread();
#else
ThreadRecord &make_this_thread();
extern constinit thread_local ThreadRecord *this_thread_record
    __attribute__((tls_model("initial-exec")));
inline ThreadRecord &this_thread() {
    ThreadRecord *record = this_thread_record;
    return record != nullptr ? *record : make_this_thread();
}
#endif

// A kind of per-thread block. Kinds are made once, as static objects.
class ThreadKind {
public:
    using Free = void (*)(void *block);
    explicit ThreadKind(Free free);
    std::size_t index() const { return index_; }

private:
    std::size_t index_;
};

// The calling thread's T, made (value-initialised) on first use and freed when
// the thread ends.
template <typename T>
class PerThread {
public:
    PerThread() : kind_([](void *block) { delete static_cast<T *>(block); }) {}
    PerThread(const PerThread &) = delete;
    PerThread &operator=(const PerThread &) = delete;

    T &get() {
        void *&block = this_thread().blocks[kind_.index()];
        if (block == nullptr) {
            block = new T();
        }
        return *static_cast<T *>(block);
    }

private:
    ThreadKind kind_;
};

// ---- Process-wide locks -----------------------------------------------------------

// A mutex of the system's. Every Lock is taken before a fork and released on
// both sides after it, so that a child never starts with a lock that another
// thread of its parent held (and that nobody in the child could release).
class Lock {
public:
    Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
    void lock();
    void unlock();

private:
    friend struct LockList;
    alignas(8) unsigned char system_[64];  // the system's mutex, set up in place
    Lock *next_ = nullptr;                 // the lock made before this one
};

// Holds a Lock for a scope.
class Locked {
public:
    explicit Locked(Lock &lock) : lock_(lock) { lock_.lock(); }
    ~Locked() { lock_.unlock(); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    Lock &lock_;
};

}  // namespace razivu::platform
