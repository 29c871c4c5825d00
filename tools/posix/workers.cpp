// Worker processes on Linux: one fork per connection.
#include "../workers.h"

#include <csignal>
#include <cstdio>
#include <set>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <razivu/razivu.h>

namespace razivu_tool::workers {
namespace {

// State of the listening process.
struct Pool {
    int max = 1;               // workers that may run at once
    std::set<pid_t> running;   // workers not yet reaped
};
Pool pool;
volatile std::sig_atomic_t stop_requested = 0;  // set by SIGINT or SIGTERM

void on_stop(int) {
    stop_requested = 1;
}

// Without SA_RESTART, so that a blocking accept or wait returns at once.
void handle(int sig, void (*fn)(int)) {
    struct sigaction sa {};
    sa.sa_handler = fn;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void reap(pid_t pid) {
    if (pid > 0) {
        pool.running.erase(pid);
    }
}

}  // namespace

void start(int max_workers) {
    pool.max = max_workers > 0 ? max_workers : 1;
    handle(SIGINT, on_stop);
    handle(SIGTERM, on_stop);
}

bool stopping() {
    return stop_requested != 0;
}

bool wait_for_room() {
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
        reap(pid);
    }
    while (static_cast<int>(pool.running.size()) >= pool.max && !stopping()) {
        reap(waitpid(-1, &status, 0));
    }
    return !stopping();
}

bool spawn(int32_t listening, int32_t conn, ServeFn serve) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t pid = fork();
    if (pid == 0) {
        handle(SIGINT, SIG_DFL);
        handle(SIGTERM, SIG_DFL);
        COMCloseSock(listening);
        const int status = serve(conn);
        std::fflush(nullptr);
        _exit(status);
    }
    COMCloseSock(conn);
    if (pid < 0) {
        return false;
    }
    pool.running.insert(pid);
    return true;
}

void stop_all() {
    for (pid_t pid : pool.running) {
        kill(pid, SIGTERM);
    }
    int status = 0;
    for (pid_t pid : pool.running) {
        waitpid(pid, &status, 0);
    }
    pool.running.clear();
}

void limit_stalls(int32_t conn, int seconds) {
    const timeval limit{seconds, 0};
    setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace razivu_tool::workers
