// How a connection travels from the server's listening process to the
// worker process that serves it, on Windows.
//
// The listening process starts the worker with CreateProcess and a pipe as
// its standard input, duplicates the accepted socket into it with
// WSADuplicateSocketA and writes the protocol information into the pipe; the
// worker reads it and opens its own descriptor of the same socket with
// WSASocketA. This is the documented way to share a socket between
// processes: an inherited socket handle is not (layered providers do not
// follow it), and the pipe keeps the hand-off off the command line.
//
// With the connection come the worker's slot, the board the processes share
// (a file mapping) and the event that nudges the worker to look at it, as
// handles duplicated into the worker.
//
// The worker is the same program started again with the same command line,
// so it comes back to the server's run call, which finds the socket through
// its activation step (a worker is a process with one passed-in connection,
// as under inetd) and serves it instead of listening.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <string>

namespace razivu::platform::handoff {

// The command line of a worker: this program, named by its full path, with
// the words after the program's name on this process's own command line.
std::wstring worker_command_line();

// Marks the processes started from now on as workers, and makes the
// standard output and error handles inheritable copies so that workers write
// where the listening process does. Once, before the first worker; undone
// by unprepare().
void prepare();
void unprepare();

// A started worker waiting for its connection.
struct Started {
    HANDLE process = nullptr;  // nullptr: none
    HANDLE pipe = nullptr;     // the writing end of its standard input
    DWORD pid = 0;
};

// Starts a worker with command_line; process is nullptr, with why saying
// what failed, when none could be started. Every socket of the caller must
// be private by then.
Started launch(std::wstring command_line, std::string &why);

// What a worker is handed beside its connection: handles of the listening
// process when given to hand_over, of the worker once received.
struct Extras {
    uint32_t slot = 0;
    HANDLE board = nullptr;  // the file mapping of the board
    HANDLE nudge = nullptr;  // an event: look at the board
};

// Hands conn and extras to worker, which then serves it; the caller still
// owns conn. False with why when the worker cannot take it (it has ended,
// or ends by itself once it finds nothing in its pipe).
bool hand_over(Started &worker, int32_t conn, const Extras &extras, std::string &why);

// True in a worker process.
bool is_worker();

// In a worker: the connection the listening process handed over, or -1 with
// why saying what failed.
int32_t receive(std::string &why);
// In a worker, once receive() has its connection: the extras with it.
const Extras &received();

// Memory of size bytes that the workers are handed (a file mapping backed
// by the paging file), or nullptr; the mapping the board lives in; and the
// memory given back. serve_memory.cpp.
void *shared_memory(std::size_t size);
HANDLE board_mapping();
void release_shared(void *memory);

// Disarms the call deadline and forgets that it passed. serve_net.cpp.
void end_deadline();

}  // namespace razivu::platform::handoff
