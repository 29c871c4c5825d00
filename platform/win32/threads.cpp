// Threads on Windows: the thread's record in fiber-local storage, whose
// callback frees it when the thread ends (thread-local storage, which has
// none, on systems without it); locks are critical sections. There is no fork.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "platform/system_calls.h"
#include "platform/threads.h"

namespace razivu::platform {

struct LockList {
    static CRITICAL_SECTION *section_of(Lock &lock) {
        return reinterpret_cast<CRITICAL_SECTION *>(lock.system_);
    }
};

namespace {

static_assert(sizeof(CRITICAL_SECTION) <= 64);

using FlsCallback = void(WINAPI *)(void *);
using FlsAllocFn = DWORD(WINAPI *)(FlsCallback);
using FlsGetValueFn = void *(WINAPI *)(DWORD);
using FlsSetValueFn = BOOL(WINAPI *)(DWORD, void *);

void WINAPI end_of_thread(void *record) {
    if (record != nullptr) {
        free_thread_record(static_cast<ThreadRecord *>(record));
    }
}

// Where records are kept: the fiber-local functions of kernel32 where they
// exist (they are looked up, being newer than the oldest target).
struct Slot {
    DWORD index = TLS_OUT_OF_INDEXES;
    FlsGetValueFn get = nullptr;  // null: thread-local storage
    FlsSetValueFn set = nullptr;
};

Slot make_slot() {
    Slot slot;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto alloc = reinterpret_cast<FlsAllocFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "FlsAlloc")));
    slot.get = reinterpret_cast<FlsGetValueFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "FlsGetValue")));
    slot.set = reinterpret_cast<FlsSetValueFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "FlsSetValue")));
    if (alloc != nullptr && slot.get != nullptr && slot.set != nullptr) {
        slot.index = alloc(end_of_thread);
    } else {
        slot.get = nullptr;
        slot.index = TlsAlloc();
    }
    if (slot.index == TLS_OUT_OF_INDEXES) {
        std::abort();  // no slot left: the process cannot keep per-thread state at all
    }
    return slot;
}

const Slot &slot() {
    static const Slot made = make_slot();
    return made;
}

}  // namespace

ThreadRecord &this_thread() {
    const Slot &s = slot();
    void *found = s.get != nullptr ? s.get(s.index) : TlsGetValue(s.index);
    if (found != nullptr) {
        return *static_cast<ThreadRecord *>(found);
    }
    auto *record = new ThreadRecord();
    if (s.get != nullptr) {
        s.set(s.index, record);
    } else {
        TlsSetValue(s.index, record);
    }
    return *record;
}

Lock::Lock() {
    InitializeCriticalSection(LockList::section_of(*this));
}

void Lock::lock() {
    EnterCriticalSection(LockList::section_of(*this));
}

void Lock::unlock() {
    LeaveCriticalSection(LockList::section_of(*this));
}

}  // namespace razivu::platform
