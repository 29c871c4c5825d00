// Worker processes on Windows: one process per connection, started with
// CreateProcess and handed the accepted socket, its slot, the board and an
// event to be nudged with (serve_handoff.h).
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
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/serving.h"
#include "platform/win32/serve_handoff.h"

namespace razivu::platform::workers {
namespace {

// How long one wait lasts at most before the workers are looked at again.
constexpr int32_t wait_ms = 50;
// The exit status of a worker ended by end_all.
constexpr UINT stopped_status = 1;
constexpr WORD winsock_version = MAKEWORD(2, 2);
// The signals that ask for a stop (Ctrl-C, Ctrl-Break, and a raised SIGTERM).
constexpr int stop_signals[] = {SIGINT, SIGBREAK, SIGTERM};
constexpr std::size_t n_stop_signals = std::size(stop_signals);

using Handler = void (*)(int);

// State of the listening process, and of a worker what it set up.
struct Pool {
    std::map<std::size_t, HANDLE> running;  // worker processes by slot
    std::vector<HANDLE> nudges;             // an event per slot
    std::wstring command_line;              // how a worker is started
    handoff::Started spare;                 // a worker started ahead, or none
    Hooks hooks{};                          // what the server does when told
    void *board = nullptr;                  // the board's view, made here
    bool winsock = false;                   // WinSock was started here
    bool prepared = false;                  // handoff::prepare() ran
    Handler before[n_stop_signals] = {};    // the handlers of stop_signals before ours
    bool handled = false;                   // ours are in place
    HANDLE nudge_thread = nullptr;          // in a worker: waits for nudges
    HANDLE quit = nullptr;                  // ends that thread
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
    pool.hooks.stop_received();
    pool.hooks.look();
}

void take_stop_signals(Handler handler) {
    for (std::size_t i = 0; i < n_stop_signals; ++i) {
        const Handler old = std::signal(stop_signals[i], handler);
        if (!pool.handled) {
            pool.before[i] = old != SIG_ERR ? old : SIG_DFL;
        }
    }
    pool.handled = true;
}

DWORD WINAPI wait_for_nudges(LPVOID event) {
    const HANDLE events[] = {static_cast<HANDLE>(event), pool.quit};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
        pool.hooks.look();
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
bool start(std::size_t max_workers, std::size_t board_size, const Hooks &hooks, std::string &why) {
    void *shared = handoff::shared_memory(board_size);
    if (shared == nullptr) {
        why = "no memory to share with the workers";
        return false;
    }
    pool.hooks = hooks;
    pool.board = shared;
    hooks.attach(shared, true);
    stop_count = 0;
    first_stop = 0;
    for (std::size_t i = 0; i < max_workers; ++i) {
        pool.nudges.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    }
    pool.command_line = handoff::worker_command_line();
    handoff::prepare();
    pool.prepared = true;
    WSADATA data{};
    pool.winsock = WSAStartup(winsock_version, &data) == 0;
    take_stop_signals(on_stop);
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

// The wait lasts wait_ms at most: a stop is seen then.
void wake() {}

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

// The worker reaches serve through the server's own path for a passed-in
// connection. No socket of this process is inherited (sockets.cpp
// makes them so), so others need no closing.
bool spawn(std::size_t slot, int32_t conn, const net::Peer &peer, ServeFn, std::span<const int32_t>) {
    std::fflush(nullptr);  // nothing buffered may come out after the worker's lines
    std::string why;
    const handoff::Extras extras{static_cast<uint32_t>(slot), handoff::board_mapping(), pool.nudges[slot]};
    const HANDLE process = worker_for(conn, extras, why);
    net::close_socket(conn);
    if (process == nullptr) {
        std::fprintf(stderr, "no worker for %s: %s\n", net::text(peer).c_str(), why.c_str());
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
int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve, std::size_t board_size, const Hooks &hooks) {
    pool.hooks = hooks;
    const handoff::Extras &extras = handoff::received();
    void *view = extras.board != nullptr ? MapViewOfFile(extras.board, FILE_MAP_ALL_ACCESS, 0, 0, board_size)
                                         : nullptr;
    if (view != nullptr) {
        pool.board = view;
        hooks.attach(view, false);
    }
    hooks.begin(conn, view != nullptr ? extras.slot : 0);
    if (extras.nudge != nullptr) {
        pool.quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        pool.nudge_thread = CreateThread(nullptr, 0, wait_for_nudges, extras.nudge, 0, nullptr);
    }
    take_stop_signals(on_worker_stop);
    const int status = serve(conn, peer);
    std::fflush(nullptr);
    return status;
}

void finish() {
    handoff::end_deadline();
    if (pool.nudge_thread != nullptr) {
        SetEvent(pool.quit);
        WaitForSingleObject(pool.nudge_thread, INFINITE);
        CloseHandle(pool.nudge_thread);
        CloseHandle(pool.quit);
        pool.nudge_thread = nullptr;
        pool.quit = nullptr;
    }
    if (pool.handled) {
        for (std::size_t i = 0; i < n_stop_signals; ++i) {
            std::signal(stop_signals[i], pool.before[i]);
        }
        pool.handled = false;
    }
    discard(pool.spare);
    for (const HANDLE event : pool.nudges) {
        CloseHandle(event);
    }
    pool.nudges.clear();
    if (pool.prepared) {
        handoff::release_shared(pool.board);
    } else if (pool.board != nullptr) {
        UnmapViewOfFile(pool.board);
    }
    pool.board = nullptr;
    handoff::unprepare();
    pool.prepared = false;
    if (pool.winsock) {
        WSACleanup();
        pool.winsock = false;
    }
}

}  // namespace razivu::platform::workers
