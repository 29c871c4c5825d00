// Worker processes on Linux: one fork per connection.
//
// The listening process keeps SIGINT, SIGTERM and SIGCHLD blocked except
// while it waits in ppoll, which they end at once: a worker is reaped the
// moment it ends, a stop is seen without delay, and no signal ever lands in
// the middle of a library call (where it would fail an accept with EINTR and
// leave an error in the log).
#include "server/workers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <razivu/razivu.h>

namespace razivu_tool::workers {
namespace {

// How long rest() waits.
constexpr long rest_ns = 100L * 1000 * 1000;

// State of the listening process.
struct Pool {
    int max = 1;                             // workers that may run at once
    std::map<pid_t, std::string> running;    // workers not yet reaped, by client address
    std::map<std::string, int> per_address;  // workers serving each client address
    sigset_t before{};                       // the signal mask before start(), for workers
    sigset_t waiting{};                      // the mask while waiting: our signals open
};
Pool pool;
volatile std::sig_atomic_t stop_signo = 0;  // the signal that asked for a stop

void on_stop(int sig) {
    stop_signo = sig;
}

void on_child(int) {}  // only ends the wait; reaping happens there

void handle(int sig, void (*fn)(int)) {
    struct sigaction sa {};
    sa.sa_handler = fn;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void forget(pid_t pid) {
    const auto it = pool.running.find(pid);
    if (it == pool.running.end()) {
        return;
    }
    const auto count = pool.per_address.find(it->second);
    if (count != pool.per_address.end() && --count->second <= 0) {
        pool.per_address.erase(count);
    }
    pool.running.erase(it);
}

void reap_finished() {
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
        forget(pid);
    }
}

// A worker starts with the signal handling the process had before start().
void become_worker() {
    handle(SIGINT, SIG_DFL);
    handle(SIGTERM, SIG_DFL);
    handle(SIGCHLD, SIG_DFL);
    sigprocmask(SIG_SETMASK, &pool.before, nullptr);
}

}  // namespace

// A worker is a fork, which needs no words.
void start(int max_workers, const std::vector<std::string> &) {
    pool.max = max_workers > 0 ? max_workers : 1;
    // A reader of standard error that goes away must not end the server:
    // its lines are then lost, and nothing else.
    handle(SIGPIPE, SIG_IGN);
    handle(SIGINT, on_stop);
    handle(SIGTERM, on_stop);
    handle(SIGCHLD, on_child);
    sigset_t ours;
    sigemptyset(&ours);
    for (int sig : {SIGINT, SIGTERM, SIGCHLD}) {
        sigaddset(&ours, sig);
    }
    sigprocmask(SIG_BLOCK, &ours, &pool.before);
    pool.waiting = pool.before;
    for (int sig : {SIGINT, SIGTERM, SIGCHLD}) {
        sigdelset(&pool.waiting, sig);
    }
}

bool stopping() {
    return stop_signo != 0;
}

const char *stop_signal() {
    switch (stop_signo) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    default: return "";
    }
}

// At the bound only the end of a worker can let the next connection in, so
// the listening socket is not watched then.
bool wait_for_connection(int32_t listening) {
    for (;;) {
        reap_finished();
        if (stopping()) {
            return false;
        }
        pollfd p{listening, POLLIN, 0};
        const nfds_t watched = static_cast<int>(pool.running.size()) < pool.max ? 1 : 0;
        const int rc = ::ppoll(&p, watched, nullptr, &pool.waiting);
        if (rc > 0 && !stopping()) {
            return (p.revents & POLLIN) != 0;  // anything else: the socket is broken
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
    }
}

void rest() {
    const timespec pause{0, rest_ns};
    ::ppoll(nullptr, 0, &pause, &pool.waiting);
}

int serving(const std::string &addr) {
    const auto it = pool.per_address.find(addr);
    return it != pool.per_address.end() ? it->second : 0;
}

bool spawn(int32_t listening, int32_t conn, const net::Peer &peer, ServeFn serve) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t pid = fork();
    if (pid == 0) {
        become_worker();
        COMCloseSock(listening);
        const int status = serve(conn, peer);
        std::fflush(nullptr);
        _exit(status);
    }
    COMCloseSock(conn);
    if (pid < 0) {
        return false;
    }
    pool.running.emplace(pid, peer.addr);
    ++pool.per_address[peer.addr];
    return true;
}

int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve) {
    handle(SIGPIPE, SIG_IGN);
    const int status = serve(conn, peer);
    std::fflush(nullptr);
    return status;
}

void stop_all() {
    for (const auto &[pid, addr] : pool.running) {
        kill(pid, SIGTERM);
    }
    int status = 0;
    for (const auto &[pid, addr] : pool.running) {
        waitpid(pid, &status, 0);
    }
    pool.running.clear();
    pool.per_address.clear();
}

}  // namespace razivu_tool::workers
