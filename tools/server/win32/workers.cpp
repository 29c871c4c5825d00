// Worker processes on Windows: one process per connection, started with
// CreateProcess and handed the accepted socket, its slot, the board and an
// event to be nudged with (handoff.h).
//
// A process takes far longer to start than a fork (tens of milliseconds on
// Windows, a hundred and more under Wine), so one worker is kept started
// ahead, waiting for the next connection; it is not counted against the
// bound until it serves.
//
// The listening process waits in select with a short time-out rather than
// on every event at once: a connection ends the wait at once, while the end
// of a worker and a stop (Ctrl-C) are seen within that time. A worker waits
// for its nudges in a thread of its own, and takes Ctrl-C, which reaches
// every process of the console, as a stop of its own.
#include "server/workers.h"

#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <razivu/razivu.h>

#include "server/board.h"
#include "server/self.h"
#include "server/win32/handoff.h"

namespace razivu_tool::workers {
namespace {

// How long one wait lasts at most before the workers are looked at again.
constexpr int32_t wait_ms = 50;
// The exit status of a worker ended by end_all.
constexpr UINT stopped_status = 1;
constexpr WORD winsock_version = MAKEWORD(2, 2);
// The signals that ask for a stop (Ctrl-C, Ctrl-Break, and a raised SIGTERM).
constexpr int stop_signals[] = {SIGINT, SIGBREAK, SIGTERM};

// State of the listening process.
struct Pool {
    std::map<std::size_t, HANDLE> running;  // worker processes by slot
    std::vector<HANDLE> nudges;             // an event per slot
    std::wstring command_line;              // how a worker is started
    handoff::Started spare;                 // a worker started ahead, or none
};
Pool pool;
volatile std::sig_atomic_t stop_count = 0;  // requests to stop so far
volatile std::sig_atomic_t first_stop = 0;  // the signal of the first

// The C run-time puts the default handling back before it calls a handler.
void on_stop(int sig) {
    std::signal(sig, on_stop);
    if (stop_count == 0) {
        first_stop = sig;
    }
    stop_count = stop_count + 1;
}

// In a worker.
void on_worker_stop(int sig) {
    std::signal(sig, on_worker_stop);
    self::stop_received();
    self::look();
}

DWORD WINAPI wait_for_nudges(LPVOID event) {
    while (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) {
        self::look();
    }
    return 0;
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
HANDLE worker_for(int32_t conn, const handoff::Extras &extras, std::string &why) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pool.spare.process == nullptr) {
            pool.spare = handoff::launch(pool.command_line, why);
        }
        if (pool.spare.process == nullptr) {
            return nullptr;
        }
        if (handoff::hand_over(pool.spare, conn, extras, why)) {
            return std::exchange(pool.spare, handoff::Started{}).process;
        }
        discard(pool.spare);
    }
    return nullptr;
}

}  // namespace

// WinSock is started here for the whole life of the listening process, so
// that no session end of the library's wrappers can close its sockets.
bool start(std::size_t max_workers, const std::vector<std::string> &worker_args, std::string &why) {
    void *shared = board::shared_memory();
    if (shared == nullptr) {
        why = "no memory to share with the workers";
        return false;
    }
    board::attach(shared, true);
    for (std::size_t i = 0; i < max_workers; ++i) {
        pool.nudges.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    }
    pool.command_line = handoff::worker_command_line(worker_args);
    handoff::prepare();
    WSADATA data{};
    WSAStartup(winsock_version, &data);
    for (const int sig : stop_signals) {
        std::signal(sig, on_stop);
    }
    std::string ignored;
    pool.spare = handoff::launch(pool.command_line, ignored);  // a failure shows when a connection needs it
    return true;
}

int stop_requests() {
    return stop_count;
}

const char *stop_signal() {
    switch (first_stop) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGBREAK: return "SIGBREAK";
    default: return "";
    }
}

void wait(std::span<net::Watch> watched, int32_t ms) {
    if (pool.spare.process == nullptr && stop_count == 0) {
        std::string ignored;
        pool.spare = handoff::launch(pool.command_line, ignored);
    }
    if (net::wait_any(watched, std::min(ms, wait_ms)) < 0) {
        Sleep(static_cast<DWORD>(std::min(ms, wait_ms)));  // a socket closed under the wait
    }
}

std::vector<std::size_t> reap() {
    std::vector<std::size_t> ended;
    for (auto it = pool.running.begin(); it != pool.running.end();) {
        if (WaitForSingleObject(it->second, 0) == WAIT_OBJECT_0) {
            ended.push_back(it->first);
            CloseHandle(it->second);
            it = pool.running.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

// The worker reaches serve through run()'s own path for a passed-in
// connection, with the limits its worker_args give it. No socket of this
// process is inherited (common/net_io.h makes them so), so others need no
// closing.
bool spawn(std::size_t slot, int32_t conn, const net::Peer &peer, ServeFn, std::span<const int32_t>) {
    std::fflush(nullptr);  // nothing buffered may come out after the worker's lines
    std::string why;
    const handoff::Extras extras{static_cast<uint32_t>(slot), handoff::board_mapping(), pool.nudges[slot]};
    const HANDLE process = worker_for(conn, extras, why);
    net::close_socket(conn);
    if (process == nullptr) {
        std::fprintf(stderr, "razivu serve: no worker for %s: %s\n", net::text(peer).c_str(), why.c_str());
        return false;
    }
    pool.running.emplace(slot, process);
    return true;
}

void nudge(std::size_t slot) {
    if (slot < pool.nudges.size()) {
        SetEvent(pool.nudges[slot]);
    }
}

void end_all() {
    discard(pool.spare);
    for (const auto &[slot, process] : pool.running) {
        TerminateProcess(process, stopped_status);
    }
    for (const auto &[slot, process] : pool.running) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
    }
    pool.running.clear();
}

// A worker of the listening process shares its board; one that the service
// manager started keeps its own.
int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve) {
    const handoff::Extras &extras = handoff::received();
    void *view = extras.board != nullptr
                     ? MapViewOfFile(extras.board, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(board::Board))
                     : nullptr;
    if (view != nullptr) {
        board::attach(view, false);
    }
    self::begin(conn, view != nullptr ? extras.slot : 0);
    if (extras.nudge != nullptr) {
        CloseHandle(CreateThread(nullptr, 0, wait_for_nudges, extras.nudge, 0, nullptr));
    }
    for (const int sig : stop_signals) {
        std::signal(sig, on_worker_stop);
    }
    const int status = serve(conn, peer);
    std::fflush(nullptr);
    return status;
}

}  // namespace razivu_tool::workers
