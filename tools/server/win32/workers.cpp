// Worker processes on Windows: one process per connection, started with
// CreateProcess and handed the accepted socket (handoff.h).
//
// A process takes far longer to start than a fork (tens of milliseconds on
// Windows, a hundred and more under Wine), so one worker is kept started
// ahead, waiting for the next connection; it is not counted against the
// bound until it serves.
//
// The listening process waits in select with a short time-out rather than
// on every event at once: a connection ends the wait at once, while the end
// of a worker and a stop (Ctrl-C) are seen within that time.
#include "server/workers.h"

#include <winsock2.h>

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <razivu/razivu.h>

#include "server/win32/handoff.h"

namespace razivu_tool::workers {
namespace {

// How long one wait lasts before the workers are looked at again.
constexpr long wait_ms = 50;
constexpr long us_per_ms = 1000;
constexpr DWORD rest_ms = 100;
// The exit status of a worker ended by stop_all.
constexpr UINT stopped_status = 1;
constexpr WORD winsock_version = MAKEWORD(2, 2);

// State of the listening process.
struct Pool {
    std::size_t max = 1;                     // workers that may run at once
    std::map<HANDLE, std::string> running;   // worker processes by client address
    std::map<std::string, int> per_address;  // workers serving each client address
    std::wstring command_line;               // how a worker is started
    handoff::Started spare;                  // a worker started ahead, or none
};
Pool pool;
volatile std::sig_atomic_t stop_signo = 0;  // set by Ctrl-C (SIGINT) or SIGTERM

void on_stop(int sig) {
    stop_signo = sig;
}

void forget(std::map<HANDLE, std::string>::iterator it) {
    const auto count = pool.per_address.find(it->second);
    if (count != pool.per_address.end() && --count->second <= 0) {
        pool.per_address.erase(count);
    }
    CloseHandle(it->first);
    pool.running.erase(it);
}

// Ends a worker that never got a connection, quietly.
void discard(handoff::Started &worker) {
    if (worker.process != nullptr) {
        TerminateProcess(worker.process, stopped_status);
        WaitForSingleObject(worker.process, INFINITE);
        CloseHandle(worker.process);
    }
    if (worker.pipe != nullptr) {
        CloseHandle(worker.pipe);
    }
    worker = handoff::Started{};
}

// A worker that has conn, or nullptr with why. The spare is taken when there
// is one; a spare that cannot take conn (it has ended) is replaced once.
HANDLE worker_for(int32_t conn, std::string &why) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pool.spare.process == nullptr) {
            pool.spare = handoff::launch(pool.command_line, why);
        }
        if (pool.spare.process == nullptr) {
            return nullptr;
        }
        if (handoff::hand_over(pool.spare, conn, why)) {
            return std::exchange(pool.spare, handoff::Started{}).process;
        }
        discard(pool.spare);
    }
    return nullptr;
}

void reap_finished() {
    for (auto it = pool.running.begin(); it != pool.running.end();) {
        const auto next = std::next(it);
        if (WaitForSingleObject(it->first, 0) == WAIT_OBJECT_0) {
            forget(it);
        }
        it = next;
    }
}

// At the bound only the end of a worker lets the next connection in.
void wait_for_a_worker() {
    std::vector<HANDLE> handles;
    for (const auto &[process, addr] : pool.running) {
        if (handles.size() == MAXIMUM_WAIT_OBJECTS) {
            break;  // the rest are looked at after the time-out
        }
        handles.push_back(process);
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait_ms);
}

}  // namespace

// WinSock is started here for the whole life of the listening process, so
// that no session end of the library's wrappers can close its sockets.
void start(int max_workers, const std::vector<std::string> &worker_args) {
    pool.max = static_cast<std::size_t>(max_workers > 0 ? max_workers : 1);
    pool.command_line = handoff::worker_command_line(worker_args);
    handoff::prepare();
    WSADATA data{};
    WSAStartup(winsock_version, &data);
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
}

bool stopping() {
    return stop_signo != 0;
}

const char *stop_signal() {
    return stop_signo == SIGTERM ? "SIGTERM" : stop_signo == SIGINT ? "SIGINT" : "";
}

bool wait_for_connection(int32_t listening) {
    handoff::keep_private(listening);
    if (pool.spare.process == nullptr) {
        std::string why;
        pool.spare = handoff::launch(pool.command_line, why);  // a failure shows when a connection needs it
    }
    for (;;) {
        reap_finished();
        if (stopping()) {
            return false;
        }
        if (pool.running.size() >= pool.max) {
            wait_for_a_worker();
            continue;
        }
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(static_cast<SOCKET>(listening), &ready);
        timeval limit{0, wait_ms * us_per_ms};
        const int rc = ::select(0, &ready, nullptr, nullptr, &limit);
        if (rc > 0 && !stopping()) {
            return true;
        }
        if (rc == SOCKET_ERROR && WSAGetLastError() != WSAEINTR) {
            return false;
        }
    }
}

void rest() {
    Sleep(rest_ms);
}

int serving(const std::string &addr) {
    const auto it = pool.per_address.find(addr);
    return it != pool.per_address.end() ? it->second : 0;
}

// The worker reaches serve through run()'s own path for a passed-in
// connection, with the limits its worker_args give it.
bool spawn(int32_t listening, int32_t conn, const net::Peer &peer, ServeFn) {
    std::fflush(nullptr);  // nothing buffered may come out after the worker's lines
    handoff::keep_private(listening);
    handoff::keep_private(conn);
    std::string why;
    const HANDLE process = worker_for(conn, why);
    COMCloseSock(conn);
    if (process == nullptr) {
        std::fprintf(stderr, "razivu serve: no worker for %s: %s\n", net::text(peer).c_str(), why.c_str());
        return false;
    }
    pool.running.emplace(process, peer.addr);
    ++pool.per_address[peer.addr];
    return true;
}

int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve) {
    const int status = serve(conn, peer);
    COMCloseSock(conn);
    std::fflush(nullptr);
    return status;
}

void stop_all() {
    discard(pool.spare);
    for (const auto &[process, addr] : pool.running) {
        TerminateProcess(process, stopped_status);
    }
    while (!pool.running.empty()) {
        WaitForSingleObject(pool.running.begin()->first, INFINITE);
        forget(pool.running.begin());
    }
}

}  // namespace razivu_tool::workers
