// Worker processes on Linux: one fork per connection.
//
// The listening process keeps SIGINT, SIGTERM and SIGCHLD blocked except
// while it waits in ppoll, which they end at once: a worker is reaped the
// moment it ends, a stop is seen without delay, and no signal ever lands in
// the middle of other work. A worker takes SIGUSR1 as the nudge to look at
// the board, and SIGTERM or SIGINT (Ctrl-C reaches the whole process group)
// as a stop of its own: it finishes the call under way.
#include "server/workers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "server/board.h"
#include "server/self.h"

namespace razivu_tool::workers {
namespace {

// The signals the listening process waits for.
constexpr int awaited[] = {SIGINT, SIGTERM, SIGCHLD, SIGUSR1};

// State of the listening process.
struct Pool {
    std::map<pid_t, std::size_t> running;  // workers not yet reaped, and their slots
    std::map<std::size_t, pid_t> by_slot;  // the same the other way round
    sigset_t before{};                     // the signal mask before start(), for workers
    sigset_t waiting{};                    // the mask while waiting: our signals open
};
Pool pool;
volatile std::sig_atomic_t stop_count = 0;  // requests to stop so far
volatile std::sig_atomic_t first_stop = 0;  // the signal of the first

void on_stop(int sig) {
    if (stop_count == 0) {
        first_stop = sig;
    }
    stop_count = stop_count + 1;
}

void on_child(int) {}  // only ends the wait; reaping happens there

// In a worker.
void on_nudge(int) {
    self::look();
}
void on_worker_stop(int) {
    self::stop_received();
    self::look();
}

void handle(int sig, void (*fn)(int)) {
    struct sigaction sa {};
    sa.sa_handler = fn;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : awaited) {
        sigaddset(&sa.sa_mask, s);
    }
    sigaction(sig, &sa, nullptr);
}

// A worker starts with the signal mask the process had before start().
void become_worker(int32_t conn, std::size_t slot, std::span<const int32_t> others) {
    for (const int32_t s : others) {
        net::close_socket(s);
    }
    self::begin(conn, slot);
    handle(SIGCHLD, SIG_DFL);
    handle(SIGUSR1, on_nudge);
    handle(SIGTERM, on_worker_stop);
    handle(SIGINT, on_worker_stop);
    sigprocmask(SIG_SETMASK, &pool.before, nullptr);
}

}  // namespace

// A worker is a fork, which needs no words.
bool start(std::size_t, const std::vector<std::string> &, std::string &why) {
    void *shared = board::shared_memory();
    if (shared == nullptr) {
        why = "no memory to share with the workers";
        return false;
    }
    board::attach(shared, true);
    // A reader of standard error that goes away must not end the server:
    // its lines are then lost, and nothing else.
    handle(SIGPIPE, SIG_IGN);
    handle(SIGINT, on_stop);
    handle(SIGTERM, on_stop);
    handle(SIGCHLD, on_child);
    sigset_t ours;
    sigemptyset(&ours);
    for (int sig : awaited) {
        sigaddset(&ours, sig);
    }
    sigprocmask(SIG_BLOCK, &ours, &pool.before);
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

void wait(std::span<net::Watch> watched, int32_t ms) {
    std::vector<pollfd> fds;
    fds.reserve(watched.size());
    for (const net::Watch &w : watched) {
        fds.push_back(pollfd{w.socket, static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0)), 0});
    }
    const timespec limit{ms / 1000, ms % 1000 * 1000000L};
    const int rc = ::ppoll(fds.data(), fds.size(), &limit, &pool.waiting);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const bool broken = rc > 0 && (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        watched[i].readable = watched[i].read && rc > 0 && ((fds[i].revents & POLLIN) != 0 || broken);
        watched[i].writable = watched[i].write && rc > 0 && ((fds[i].revents & POLLOUT) != 0 || broken);
    }
}

std::vector<std::size_t> reap() {
    std::vector<std::size_t> ended;
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
        const auto it = pool.running.find(pid);
        if (it != pool.running.end()) {
            ended.push_back(it->second);
            pool.by_slot.erase(it->second);
            pool.running.erase(it);
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

int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve) {
    handle(SIGPIPE, SIG_IGN);
    self::begin(conn, 0);
    handle(SIGTERM, on_worker_stop);
    handle(SIGINT, on_worker_stop);
    const int status = serve(conn, peer);
    std::fflush(nullptr);
    return status;
}

}  // namespace razivu_tool::workers
