// Threads on Linux: the thread's record behind a pthread key, whose
// destructor frees it when the thread ends, with a copy of its address in
// static thread-local storage for the fast path; locks are pthread mutexes,
// all taken around a fork.
#include <cstdlib>
#include <pthread.h>

#include "platform/system_calls.h"
#include "platform/threads.h"

namespace razivu::platform {

// Every Lock of the process, newest first.
struct LockList {
    static Lock *&head() {
        static Lock *newest = nullptr;
        return newest;
    }
    static pthread_mutex_t *mutex_of(Lock &lock) {
        return reinterpret_cast<pthread_mutex_t *>(lock.system_);
    }
    // Takes them oldest first; no lock is ever taken while another is held,
    // so any fixed order is safe.
    static void take_all() { take(head()); }
    static void release_all() {
        for (Lock *l = head(); l != nullptr; l = l->next_) {
            ::pthread_mutex_unlock(mutex_of(*l));
        }
    }

private:
    static void take(Lock *l) {
        if (l != nullptr) {
            take(l->next_);
            ::pthread_mutex_lock(mutex_of(*l));
        }
    }
};

namespace {

static_assert(sizeof(pthread_mutex_t) <= 64);

pthread_key_t record_key;
pthread_once_t record_key_once = PTHREAD_ONCE_INIT;
pthread_once_t fork_hooks_once = PTHREAD_ONCE_INIT;
void end_of_thread(void *record) {
    this_thread_record = nullptr;  // a destructor that calls in after this gets a new record
    free_thread_record(static_cast<ThreadRecord *>(record));
}

void make_record_key() {
    if (::pthread_key_create(&record_key, end_of_thread) != 0) {
        std::abort();  // no key left: the process cannot keep per-thread state at all
    }
}

void install_fork_hooks() {
    ::pthread_atfork(LockList::take_all, LockList::release_all, LockList::release_all);
}

}  // namespace

// The initial-exec model takes the record's address from static TLS, which a
// library loaded later still finds for so small a variable.
constinit thread_local ThreadRecord *this_thread_record = nullptr;

ThreadRecord &make_this_thread() {
    ::pthread_once(&record_key_once, make_record_key);
    auto *record = new ThreadRecord();
    ::pthread_setspecific(record_key, record);
    this_thread_record = record;
    return *record;
}

Lock::Lock() {
    ::pthread_mutex_init(LockList::mutex_of(*this), nullptr);
    next_ = LockList::head();
    LockList::head() = this;
    ::pthread_once(&fork_hooks_once, install_fork_hooks);
}

void Lock::lock() {
    ::pthread_mutex_lock(LockList::mutex_of(*this));
}

void Lock::unlock() {
    ::pthread_mutex_unlock(LockList::mutex_of(*this));
}

}  // namespace razivu::platform
