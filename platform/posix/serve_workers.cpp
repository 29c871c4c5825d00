// Worker processes on Linux: one fork per connection.
//
// The listening process keeps SIGINT, SIGTERM, SIGCHLD and SIGUSR1 blocked
// except while it waits in ppoll, which the first three end at once: a
// worker is reaped the moment it ends, a stop is seen without delay, and no
// signal ever lands in the middle of other work. A signal that reaches
// another thread of the caller's instead, and wake(), write to a pipe the
// wait watches, so it ends the wait all the same. A worker takes SIGUSR1 as
// the nudge to look at the board, and SIGTERM or SIGINT (Ctrl-C reaches the
// whole process group) as a stop of its own: it finishes the call under way.
//
// Every disposition and the mask are kept as they were and put back by
// finish(); only the processes forked here are reaped.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/serve_internal.h"
#include "platform/serving.h"

namespace razivu::platform::workers {
namespace {

// The signals the listening process waits for, and those a worker must take.
constexpr int awaited[] = {SIGINT, SIGTERM, SIGCHLD, SIGUSR1};
constexpr int worker_signals[] = {SIGINT, SIGTERM, SIGUSR1, SIGALRM};
constexpr int ms_per_second = 1000;
constexpr long ns_per_ms = 1000000;

// State of the listening process.
struct Pool {
    std::map<pid_t, std::size_t> running;  // workers not yet reaped, and their slots
    std::map<std::size_t, pid_t> by_slot;  // the same the other way round
    sigset_t before{};                     // the caller's signal mask, put back by finish()
    bool masked = false;                   // the mask was changed
    sigset_t waiting{};                    // the mask while waiting: our signals open
    Hooks hooks{};                         // what the server does when told
    void *board = nullptr;                 // the shared memory of the board
    std::size_t board_size = 0;
    int wake_read = -1;                    // the pipe that ends a wait
};
Pool pool;
volatile std::sig_atomic_t stop_count = 0;   // requests to stop so far
volatile std::sig_atomic_t first_stop = 0;   // the signal of the first
volatile std::sig_atomic_t child_ended = 0;  // a SIGCHLD came since the last reap
std::atomic<int> wake_write{-1};             // the pipe's writing end, read in signal handlers
static_assert(std::atomic<int>::is_always_lock_free);

// The dispositions set_handler changed, as they were.
struct Saved {
    struct sigaction old[NSIG] = {};
    bool kept[NSIG] = {};
};
Saved saved;

void on_stop(int sig) {
    if (stop_count == 0) {
        first_stop = sig;
    }
    stop_count = stop_count + 1;
    wake();
}

void on_child(int) {
    child_ended = 1;
    wake();
}

// In a worker.
void on_nudge(int) {
    pool.hooks.look();
}
void on_worker_stop(int) {
    pool.hooks.stop_received();
    pool.hooks.look();
}

void unblock(const int (&signals)[4], sigset_t *before) {
    sigset_t open;
    sigemptyset(&open);
    for (const int s : signals) {
        sigaddset(&open, s);
    }
    sigprocmask(SIG_UNBLOCK, &open, before);
}

void take_worker_signals() {
    serving::set_handler(SIGPIPE, SIG_IGN);
    serving::set_handler(SIGTERM, on_worker_stop);
    serving::set_handler(SIGINT, on_worker_stop);
}

// A worker starts with the caller's signal mask, its own signals open.
void become_worker(int32_t conn, std::size_t slot, std::span<const int32_t> others) {
    for (const int32_t s : others) {
        net::close_socket(s);
    }
    ::close(pool.wake_read);
    ::close(wake_write.exchange(-1));
    pool.hooks.begin(conn, slot);
    serving::set_handler(SIGCHLD, SIG_DFL);
    serving::set_handler(SIGUSR1, on_nudge);
    take_worker_signals();
    sigprocmask(SIG_SETMASK, &pool.before, nullptr);
    unblock(worker_signals, nullptr);
}

void drain_wake() {
    char bytes[64];
    while (::read(pool.wake_read, bytes, sizeof bytes) > 0) {
    }
}

}  // namespace

bool start(std::size_t, std::size_t board_size, const Hooks &hooks, std::string &why) {
    void *shared = serving::shared_memory(board_size);
    int wake_pipe[2] = {-1, -1};
    if (shared == nullptr || ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        serving::release_shared(shared, board_size);
        why = shared == nullptr ? "no memory to share with the workers" : "no pipe to wake the server with";
        return false;
    }
    pool.hooks = hooks;
    pool.board = shared;
    pool.board_size = board_size;
    pool.wake_read = wake_pipe[0];
    wake_write = wake_pipe[1];
    stop_count = 0;
    first_stop = 0;
    child_ended = 0;
    hooks.attach(shared, true);
    // A reader of standard error that goes away must not end the server:
    // its lines are then lost, and nothing else.
    serving::set_handler(SIGPIPE, SIG_IGN);
    serving::set_handler(SIGINT, on_stop);
    serving::set_handler(SIGTERM, on_stop);
    serving::set_handler(SIGCHLD, on_child);
    sigset_t ours;
    sigemptyset(&ours);
    for (int sig : awaited) {
        sigaddset(&ours, sig);
    }
    sigprocmask(SIG_BLOCK, &ours, &pool.before);
    pool.masked = true;
    pool.waiting = pool.before;
    for (int sig : {SIGINT, SIGTERM, SIGCHLD}) {
        sigdelset(&pool.waiting, sig);
    }
    return true;
}

int stop_requests() {
    return stop_count;
}

const char *stop_signal() {
    switch (first_stop) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    default: return "";
    }
}

// write() may be called in a signal handler; a full pipe wakes already.
void wake() {
    const int fd = wake_write.load();
    const char byte = 1;
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        return;
    }
}

void wait(std::span<net::Watch> watched, int32_t ms) {
    std::vector<pollfd> fds;
    fds.reserve(watched.size() + 1);
    for (const net::Watch &w : watched) {
        fds.push_back(pollfd{w.socket, static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0)), 0});
    }
    fds.push_back(pollfd{pool.wake_read, POLLIN, 0});
    const timespec limit{ms / ms_per_second, ms % ms_per_second * ns_per_ms};
    const int rc = ::ppoll(fds.data(), fds.size(), &limit, &pool.waiting);
    for (std::size_t i = 0; i < watched.size(); ++i) {
        const bool broken = rc > 0 && (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        watched[i].readable = watched[i].read && rc > 0 && ((fds[i].revents & POLLIN) != 0 || broken);
        watched[i].writable = watched[i].write && rc > 0 && ((fds[i].revents & POLLOUT) != 0 || broken);
    }
    if (rc > 0 && fds.back().revents != 0) {
        drain_wake();
    }
}

// A worker another part of the program reaped already (ECHILD) has ended too.
std::vector<std::size_t> reap() {
    std::vector<std::size_t> ended;
    if (child_ended == 0) {
        return ended;
    }
    child_ended = 0;
    for (auto it = pool.running.begin(); it != pool.running.end();) {
        int status = 0;
        const pid_t r = ::waitpid(it->first, &status, WNOHANG);
        if (r == it->first || (r < 0 && errno == ECHILD)) {
            ended.push_back(it->second);
            pool.by_slot.erase(it->second);
            it = pool.running.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

bool spawn(std::size_t slot, int32_t conn, const net::Peer &peer, ServeFn serve, std::span<const int32_t> others) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t pid = fork();
    if (pid == 0) {
        become_worker(conn, slot, others);
        const int status = serve(conn, peer);
        std::fflush(nullptr);
        _exit(status);
    }
    net::close_socket(conn);
    if (pid < 0) {
        return false;
    }
    pool.running.emplace(pid, slot);
    pool.by_slot.emplace(slot, pid);
    return true;
}

void nudge(std::size_t slot) {
    const auto it = pool.by_slot.find(slot);
    if (it != pool.by_slot.end()) {
        kill(it->second, SIGUSR1);
    }
}

void end_all() {
    for (const auto &[pid, slot] : pool.running) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    for (const auto &[pid, slot] : pool.running) {
        waitpid(pid, &status, 0);
    }
    pool.running.clear();
    pool.by_slot.clear();
}

int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve, std::size_t, const Hooks &hooks) {
    pool.hooks = hooks;
    hooks.begin(conn, 0);
    take_worker_signals();
    unblock(worker_signals, &pool.before);
    pool.masked = true;
    const int status = serve(conn, peer);
    std::fflush(nullptr);
    return status;
}

void finish() {
    serving::end_deadline();
    serving::restore_handlers();
    if (pool.masked) {
        sigprocmask(SIG_SETMASK, &pool.before, nullptr);
    }
    serving::restore_socket_room();
    if (pool.wake_read >= 0) {
        ::close(pool.wake_read);
        ::close(wake_write.exchange(-1));
    }
    serving::release_shared(pool.board, pool.board_size);
    pool.running.clear();
    pool.by_slot.clear();
    pool.masked = false;
    pool.board = nullptr;
    pool.wake_read = -1;
}

}  // namespace razivu::platform::workers

namespace razivu::platform::serving {

// While a handler runs, the server's other signals wait.
void set_handler(int sig, void (*fn)(int)) {
    struct sigaction sa {};
    sa.sa_handler = fn;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : workers::awaited) {
        sigaddset(&sa.sa_mask, s);
    }
    struct sigaction old {};
    sigaction(sig, &sa, &old);
    if (!workers::saved.kept[sig]) {
        workers::saved.old[sig] = old;
        workers::saved.kept[sig] = true;
    }
}

void restore_handlers() {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (workers::saved.kept[sig]) {
            sigaction(sig, &workers::saved.old[sig], nullptr);
            workers::saved.kept[sig] = false;
        }
    }
}

}  // namespace razivu::platform::serving
