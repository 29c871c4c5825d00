// The razivu tool as a process of its own, for the tests of its commands:
// any command run as a user would (its standard output and error, exit
// status, time and peak memory), `razivu serve` started and stopped with its
// output kept, and raw clients on the 127/8 addresses.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "loopback.h"
#include "support/test_env.h"

namespace razivu::test {

using Clock = std::chrono::steady_clock;
using Env = std::vector<std::pair<std::string, std::string>>;

// How long a test waits for what must happen, however loaded the machine.
constexpr int wait_ms = 2000;
// No run of the tool may take longer; it is killed then.
constexpr int tool_deadline_seconds = 60;

// The tool of the same build: <build>/tools/razivu beside <build>/tests/.
inline std::string tool_path() {
    std::error_code ec;
    const auto tool = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path() /
                      "tools" / "razivu";
    return !ec && std::filesystem::exists(tool, ec) ? tool.string() : std::string();
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        if (tool_path().empty()) {
            GTEST_SKIP() << "the razivu tool is not built beside the tests";
        }
    }
};

inline long ms_since(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// How often what occurs in text.
inline int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// A TCP connection to host:port from the address from when one is given (any
// 127.x.y.z address is this host's); -1 when it cannot be made. A port taken
// for a source address stays open to another test's server that listens on
// every address (both sockets reuse it).
inline int connect_to(const char *host, uint16_t port, const char *from = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin = loopback_address(0);
    const bool bound = from == nullptr || (::inet_pton(AF_INET, from, &sin.sin_addr) == 1 &&
                                           ::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) == 0);
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &sin.sin_addr);
    if (!bound || ::connect(fd, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// n connections to 127.0.0.1:port begun without waiting for them to be taken.
inline std::vector<int> connect_pending(uint16_t port, int n) {
    std::vector<int> fds;
    const sockaddr_in sin = loopback_address(port);
    for (int i = 0; i < n; ++i) {
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fds.back(), reinterpret_cast<const sockaddr *>(&sin), sizeof sin);
    }
    return fds;
}

// Reads until n bytes are in, the peer closes or ms pass.
inline std::string recv_within(int fd, std::size_t n, int ms) {
    const Clock::time_point start = Clock::now();
    std::string out;
    char buf[4096];
    for (ssize_t got = 1; got > 0 && out.size() < n && readable_within(fd, static_cast<int>(ms - ms_since(start)));) {
        got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        out.append(buf, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    return out;
}

// True when the peer closes fd (or resets it) within ms.
inline bool closed_within(int fd, int ms) {
    char byte = 0;
    ssize_t n = 1;
    return readable_within(fd, ms) && ((n = ::recv(fd, &byte, 1, MSG_DONTWAIT)) == 0 || (n < 0 && errno != EAGAIN));
}

// Sends bytes on a new connection to 127.0.0.1:port, closes the sending side
// and returns what comes back, up to n bytes.
inline std::string exchange(uint16_t port, const std::string &bytes, std::size_t n) {
    const int fd = raw_connect(port);
    raw_send(fd, bytes);
    ::shutdown(fd, SHUT_WR);
    std::string reply = recv_within(fd, n, wait_ms);
    ::close(fd);
    return reply;
}

struct ToolRun {
    int status = -1;      // exit status; -1 when it did not exit normally
    std::string out;      // standard output
    std::string err;      // standard error
    double seconds = 0;   // wall-clock time it ran
    long max_rss_kb = 0;  // peak resident memory
};

// Replaces the process with argv (searched in PATH); exit status 127 when it cannot.
inline void exec_or_exit(std::vector<std::string> argv_text) {
    std::vector<char *> argv;
    for (std::string &a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// Runs the tool with args (no shell), standard input from in_file (/dev/null
// when none), and extra environment settings. Its output goes to files: a
// pipe the test would have to drain as it runs.
inline ToolRun run_tool(std::vector<std::string> args, const std::string &in_file = {}, const Env &env = {}) {
    static int runs = 0;
    const std::string out = root() + "/tool-" + std::to_string(++runs);
    const std::string err = out + ".err";
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(in_file.empty() ? "/dev/null" : in_file.c_str(), O_RDONLY), 0);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        for (const auto &[name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        args.insert(args.begin(), tool_path());
        ::alarm(tool_deadline_seconds);
        exec_or_exit(std::move(args));
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = static_cast<double>(ms_since(start)) / 1000;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err), seconds, usage.ru_maxrss};
}

// `razivu serve` (or a command that starts one), stopped with SIGTERM at the
// end; its standard output and error go to a file.
struct ServeProcess {
    pid_t pid = -1;
    uint16_t port = free_port();
    std::string output_path = root() + "/serve-" + std::to_string(port) + ".out";
    int error_fd = -1;  // standard error when set; the output file otherwise

    // `razivu serve --port PORT args...`; false when it does not listen in time.
    bool start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {tool_path(), "serve", "--port", std::to_string(port)});
        return start_command(std::move(args), "razivu serve: listening on");
    }
    // Ready when the output shows ready_text, or without one when a
    // connection is taken (a probe that a worker then serves).
    bool start_command(std::vector<std::string> argv, const std::string &ready_text = {}) {
        pid = run_child([this, &argv] {
            const int out = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(error_fd >= 0 ? error_fd : out, STDERR_FILENO);
            ::unsetenv("RAZIVU_DEBUG");
            exec_or_exit(std::move(argv));
            return 127;
        });
        int status = 0;
        for (const Clock::time_point t = Clock::now(); ms_since(t) < 5 * wait_ms; ::usleep(50000)) {
            if (!ready_text.empty() && output().find(ready_text) != std::string::npos) {
                return true;
            }
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return false;  // it ended: its output says why
            }
            if (const int probe = ready_text.empty() ? raw_connect(port) : -1; probe >= 0) {
                ::close(probe);
                return true;
            }
        }
        return false;
    }
    // The signal, then the exit status (-1 when it had to be killed).
    int stop(int sig = SIGTERM) {
        const int status = pid > 0 && ::kill(pid, sig) == 0 ? wait_child(pid, 20) : -1;
        pid = -1;
        return status;
    }
    std::string output() const { return read_file(output_path); }
    ~ServeProcess() { stop(); }
};

// ---- The load test of `razivu serve`, on either system's server ------------------------
//
// Clients make Echo calls and check every reply byte, reconnecting now and
// then, while troublemakers hang up mid-call, stall and send garbage; each in
// a process of its own.

constexpr int load_clients = 6;
constexpr int load_calls_per_client = 60;
constexpr int load_calls_per_connection = 20;
constexpr int load_troublemakers = 2;
constexpr int load_mischief = 8;  // connections per troublemaker
constexpr int load_deadline_seconds = 120;

// The arguments of Echo call n: every kind, null ones too, and an array
// whose reply the server sends in pieces.
inline std::string echo_arguments(int n) {
    const std::string number = std::to_string(n);
    char header[16];
    std::snprintf(header, sizeof header, "i%05zu|", number.size());
    return "s00005|hello|s-0001|" + std::string(header) + number + "|b00001|1|a00003|" + std::string("\0\xff|", 3) +
           "|a-0001|a00991|" + std::string(991, '|') + "|";
}

// Exit status 0 when every call of the client was answered byte for byte.
inline int load_client(uint16_t port, int id) {
    for (int n = id * load_calls_per_client; n < (id + 1) * load_calls_per_client;) {
        const int fd = raw_connect(port);
        for (int i = 0; i < load_calls_per_connection; ++i, ++n) {
            const std::string args = echo_arguments(n);
            if (fd < 0 || !raw_send(fd, "#00004|Echo|" + args) ||
                recv_within(fd, 7 + args.size(), 10 * wait_ms) != "r00010|" + args) {
                return 1;
            }
        }
        ::close(fd);
    }
    return 0;
}

// Connections that end badly, in turn: mid-field, garbage, before the reply, after a stall.
inline int troublemaker(uint16_t port) {
    const std::string call = "#00004|Echo|s00005|hello|i00002|42|";
    const std::string sent[] = {call.substr(0, 20), std::string(3000, '\xA5'), call, call.substr(0, 15)};
    for (int i = 0; i < load_mischief; ++i) {
        const int fd = raw_connect(port);
        raw_send(fd, sent[i % 4]);
        ::usleep(i % 4 == 3 ? 200000 : 0);
        ::close(fd);
    }
    return 0;
}

// True when every client's calls were answered and the server answers still.
inline bool echo_load(uint16_t port) {
    std::vector<pid_t> pids;
    for (int id = 0; id < load_clients + load_troublemakers; ++id) {
        pids.push_back(run_child([port, id] { return id < load_clients ? load_client(port, id) : troublemaker(port); }));
    }
    bool ok = true;
    for (const pid_t pid : pids) {
        ok = wait_child(pid, load_deadline_seconds) == 0 && ok;
    }
    return ok && load_client(port, load_clients) == 0;
}

}  // namespace razivu::test
