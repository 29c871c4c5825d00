// Fault injection into the platform's file-call table, as SQLite's
// test_syscall does it: the nth call of one entry, counted from the fault's
// start, fails with a chosen errno; every other call reaches the system. The
// system's calls are back when the fault ends.
#pragma once

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace razivu::test {

// The buffered-file entries and, after them, the descriptor entries of the
// Linux stand-ins.
enum class FileCall { open, open_own, write, flush, close, rename, open_fd, read_fd, write_fd, sync_fd, close_fd, rename_host };

class FileFault {
public:
    // nth 0 fails no call: the fault only counts.
    FileFault(FileCall call, int nth, int err) {
        state() = State{nth, err, 0, platform::file_calls()};
        platform::FileCalls &calls = platform::file_calls();
        switch (call) {
        case FileCall::open:
            calls.open = [](const char *p, const char *m) {
                return hit() ? fail<std::FILE *>(nullptr) : sys().open(p, m);
            };
            break;
        case FileCall::open_own:
            calls.open_own = [](const char *p, const char *m) {
                return hit() ? fail<std::FILE *>(nullptr) : sys().open_own(p, m);
            };
            break;
        case FileCall::write:
            calls.write = [](const void *d, std::size_t n, std::FILE *f) {
                return hit() ? fail<std::size_t>(0) : sys().write(d, n, f);
            };
            break;
        case FileCall::flush: calls.flush = [](std::FILE *f) { return hit() ? fail(EOF) : sys().flush(f); }; break;
        case FileCall::close:  // a failed fclose still releases the file
            calls.close = [](std::FILE *f) {
                const int rc = sys().close(f);
                return hit() ? fail(EOF) : rc;
            };
            break;
        case FileCall::rename:
            calls.rename = [](const char *from, const char *to) { return hit() ? fail(-1) : sys().rename(from, to); };
            break;
        case FileCall::open_fd:
            calls.open_fd = [](const char *p, int flags, unsigned mode) { return hit() ? fail(-1) : sys().open_fd(p, flags, mode); };
            break;
        case FileCall::read_fd:
            calls.read_fd = [](int fd, void *d, std::size_t n) { return hit() ? fail<ssize_t>(-1) : sys().read_fd(fd, d, n); };
            break;
        case FileCall::write_fd:
            calls.write_fd = [](int fd, const void *d, std::size_t n) {
                return hit() ? fail<ssize_t>(-1) : sys().write_fd(fd, d, n);
            };
            break;
        case FileCall::sync_fd: calls.sync_fd = [](int fd) { return hit() ? fail(-1) : sys().sync_fd(fd); }; break;
        case FileCall::close_fd:  // a failed close still releases the descriptor
            calls.close_fd = [](int fd) {
                const int rc = sys().close_fd(fd);
                return hit() ? fail(-1) : rc;
            };
            break;
        case FileCall::rename_host:
            calls.rename_host = [](const char *from, const char *to) { return hit() ? fail(-1) : sys().rename_host(from, to); };
            break;
        }
    }
    FileFault(const FileFault &) = delete;
    ~FileFault() { platform::reset_file_calls(); }
    // Calls of the entry so far.
    int calls() const { return state().seen; }

private:
    struct State {
        int nth;                      // the call that fails
        int err;                      // its errno
        int seen;                     // calls so far
        platform::FileCalls system;  // the calls before the fault
    };
    static State &state() {
        static State s{};
        return s;
    }
    static const platform::FileCalls &sys() { return state().system; }
    static bool hit() { return ++state().seen == state().nth; }
    template <typename T>
    static T fail(T result) {
        errno = state().err;
        return result;
    }
};

}  // namespace razivu::test
