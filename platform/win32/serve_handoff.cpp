// A connection handed from the listening process to a worker: see serve_handoff.h.
#include "platform/win32/serve_handoff.h"

#include <cstdint>
#include <cstdlib>

namespace razivu::platform::handoff {
namespace {

// Set in the environment of the processes the listening process starts.
constexpr const char *worker_variable = "RAZIVU_SERVE_WORKER";
// Names the library's trace file.
constexpr const char *trace_variable = "RAZIVU_DEBUG";
constexpr DWORD path_cap = 32768;  // the longest path Windows accepts
constexpr WORD winsock_version = MAKEWORD(2, 2);

// Process-wide: what the listening process gives every worker, and in a
// worker what it was given.
struct Inherited {
    HANDLE out = nullptr;  // inheritable copy of standard output
    HANDLE err = nullptr;  // inheritable copy of standard error
    Extras extras;         // in a worker: what came with its connection
    bool winsock = false;  // in a worker: WinSock was started for the connection
};
Inherited inherited;

// nullptr when the handle cannot be copied: the worker then gets it as it is.
HANDLE inheritable_copy(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

HANDLE for_worker(HANDLE copy, DWORD which) {
    return copy != nullptr ? copy : GetStdHandle(which);
}

void close_copy(HANDLE &copy) {
    if (copy != nullptr) {
        CloseHandle(copy);
        copy = nullptr;
    }
}

// The words after the program's name in a command line, where the C
// run-time's parser ends the name: at the closing quote when it begins with
// one, else at the first blank.
const wchar_t *after_program(const wchar_t *line) {
    if (*line == L'"') {
        for (++line; *line != L'\0' && *line != L'"'; ++line) {
        }
        line += *line == L'"' ? 1 : 0;
    } else {
        for (; *line != L'\0' && *line != L' ' && *line != L'\t'; ++line) {
        }
    }
    for (; *line == L' ' || *line == L'\t'; ++line) {
    }
    return line;
}

// One argument as the C runtime's parser reads it back: quoted, with
// backslashes doubled only where a quote follows them.
void append_quoted(std::wstring &line, const std::wstring &arg) {
    line += L" \"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::string system_text(const char *step, DWORD error) {
    return std::string(step) + " failed (error " + std::to_string(error) + ")";
}

// Moves len bytes with io(offset, &moved) until all are through; false when
// a call fails or moves nothing (the other end has gone).
template <typename Io>
bool whole(DWORD len, Io io) {
    for (DWORD done = 0; done < len;) {
        DWORD n = 0;
        if (!io(done, &n) || n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

bool write_all(HANDLE pipe, const void *data, DWORD len) {
    const auto *bytes = static_cast<const char *>(data);
    return whole(len, [&](DWORD done, DWORD *n) { return WriteFile(pipe, bytes + done, len - done, n, nullptr); });
}

// From standard input, where the listening process writes. A worker started
// ahead whose listening process has gone (stopped or killed) finds the end
// before any byte, and ends without a word.
bool read_all(void *data, DWORD len) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    auto *bytes = static_cast<char *>(data);
    return whole(len, [&](DWORD done, DWORD *n) {
        const BOOL ok = ReadFile(in, bytes + done, len - done, n, nullptr);
        if (done == 0 && (!ok || *n == 0)) {
            ExitProcess(0);
        }
        return ok;
    });
}

// A worker traces into a file of its own, named after the listening
// process's with the worker's process id added: the library opens the trace
// file afresh in each process, so a shared one would be emptied by every
// worker and overwritten between them.
void trace_apart() {
    const char *trace = std::getenv(trace_variable);
    if (trace != nullptr && trace[0] != '\0') {
        const std::string own = std::string(trace_variable) + "=" + trace + "." + std::to_string(GetCurrentProcessId());
        _putenv(own.c_str());
    }
}

}  // namespace

// The program by its full path: the name it was started by may have been
// found along a search path that a worker would not search alike.
std::wstring worker_command_line() {
    std::wstring exe(path_cap, L'\0');
    const DWORD len = GetModuleFileNameW(nullptr, exe.data(), path_cap);
    exe.resize(len < path_cap ? len : 0);
    std::wstring line;
    append_quoted(line, exe);
    line.erase(0, 1);  // no blank before the program
    const wchar_t *rest = after_program(GetCommandLineW());
    if (*rest != L'\0') {
        line += L' ';
        line += rest;
    }
    return line;
}

void prepare() {
    SetEnvironmentVariableA(worker_variable, "1");
    inherited.out = inheritable_copy(STD_OUTPUT_HANDLE);
    inherited.err = inheritable_copy(STD_ERROR_HANDLE);
}

void unprepare() {
    SetEnvironmentVariableA(worker_variable, nullptr);
    close_copy(inherited.out);
    close_copy(inherited.err);
    if (inherited.winsock) {
        WSACleanup();
        inherited.winsock = false;
    }
}

// Only the pipe's reading end and the standard handles are meant for the
// worker (the caller has made its sockets private).
Started launch(std::wstring command_line, std::string &why) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        why = system_text("CreatePipe", GetLastError());
        return {};
    }
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = read_end;
    si.hStdOutput = for_worker(inherited.out, STD_OUTPUT_HANDLE);
    si.hStdError = for_worker(inherited.err, STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    CloseHandle(read_end);
    if (!started) {
        CloseHandle(write_end);
        why = system_text("CreateProcess", error);
        return {};
    }
    CloseHandle(pi.hThread);
    return Started{pi.hProcess, write_end, pi.dwProcessId};
}

// The pipe is closed either way: a worker that got nothing reads its end and stops.
bool hand_over(Started &worker, int32_t conn, const Extras &extras, std::string &why) {
    WSAPROTOCOL_INFOA info{};
    Extras theirs{extras.slot, nullptr, nullptr};
    const HANDLE self = GetCurrentProcess();
    bool handed = false;
    if (WaitForSingleObject(worker.process, 0) == WAIT_OBJECT_0) {
        why = "the worker ended before its connection came";
    } else if (WSADuplicateSocketA(static_cast<SOCKET>(conn), worker.pid, &info) != 0) {
        why = system_text("WSADuplicateSocket", static_cast<DWORD>(WSAGetLastError()));
    } else if (!DuplicateHandle(self, extras.board, worker.process, &theirs.board, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
               !DuplicateHandle(self, extras.nudge, worker.process, &theirs.nudge, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        why = system_text("DuplicateHandle", GetLastError());
    } else if (!write_all(worker.pipe, &info, sizeof info) || !write_all(worker.pipe, &theirs, sizeof theirs)) {
        why = system_text("writing to the worker", GetLastError());
    } else {
        handed = true;
    }
    CloseHandle(worker.pipe);
    worker.pipe = nullptr;
    return handed;
}

const Extras &received() {
    return inherited.extras;
}

bool is_worker() {
    char value[2] = {};
    return GetEnvironmentVariableA(worker_variable, value, sizeof value) > 0;
}

// WinSock stays started for the worker's life: a session end would close
// the connection.
int32_t receive(std::string &why) {
    SetEnvironmentVariableA(worker_variable, nullptr);
    trace_apart();
    WSAPROTOCOL_INFOA info{};
    if (!read_all(&info, sizeof info) || !read_all(&inherited.extras, sizeof inherited.extras)) {
        why = "the listening process handed over no connection";
        return -1;
    }
    WSADATA data{};
    if (WSAStartup(winsock_version, &data) != 0) {
        why = "WinSock cannot be started";
        return -1;
    }
    inherited.winsock = true;
    const SOCKET s = WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                                WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        why = system_text("WSASocket on the handed-over connection", static_cast<DWORD>(WSAGetLastError()));
        return -1;
    }
    return static_cast<int32_t>(s);
}

}  // namespace razivu::platform::handoff
