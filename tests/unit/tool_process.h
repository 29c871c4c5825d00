// The razivu tool as a process of its own, for the tests of its commands:
// `razivu serve` started and stopped with its output kept, any command run
// as a user would (its standard output and error, exit status, time and
// peak memory), and raw clients on the 127/8 addresses.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
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

// How long `razivu serve` may take to listen, in tenths of a second.
constexpr int serve_start_tenths = 100;

// The tool of the same build: <build>/tools/razivu beside <build>/tests/.
inline std::string tool_path() {
    std::error_code ec;
    const auto tests = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    const auto tool = tests.parent_path() / "tools" / "razivu";
    return !ec && std::filesystem::exists(tool, ec) ? tool.string() : std::string();
}

// A TCP connection to host:port, from the address from when one is given
// (any 127.x.y.z address is this host's); -1 when it cannot be made.
inline int connect_to(const char *host, uint16_t port, const char *from = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    if (from != nullptr) {
        ::inet_pton(AF_INET, from, &sin.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &sin.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A `razivu serve` process (or a command that starts one), stopped with
// SIGTERM at the end. Its standard output and error go to output_path.
struct ServeProcess {
    pid_t pid = -1;
    uint16_t port = free_port();
    const char *host = "127.0.0.1";  // where start() looks for it
    std::string output_path = root() + "/serve-" + std::to_string(port) + ".out";

    // `razivu serve --port PORT args...`; false when it does not take
    // connections in time.
    bool start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {tool_path(), "serve", "--port", std::to_string(port)});
        return start_command(std::move(args), "razivu serve: listening on");
    }
    // Ready when the output shows ready_text, or without one when a
    // connection is taken (a probe that a worker then serves).
    bool start_command(std::vector<std::string> argv_text, const std::string &ready_text = {}) {
        pid = run_child([this, &argv_text] {
            std::vector<char *> argv;
            for (std::string &a : argv_text) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            const int out = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::unsetenv("RAZIVU_DEBUG");
            ::execvp(argv[0], argv.data());
            return 127;
        });
        for (int i = 0; i < serve_start_tenths; ++i, ::usleep(100000)) {
            if (!ready_text.empty()) {
                if (output().find(ready_text) != std::string::npos) {
                    return true;
                }
                continue;
            }
            const int probe = connect_to(host, port);  // served as a client that hangs up
            if (probe >= 0) {
                ::close(probe);
                return true;
            }
        }
        return false;
    }
    // The signal (SIGTERM unless given), then the exit status (-1 when it had
    // to be killed).
    int stop(int sig = SIGTERM) {
        if (pid > 0) {
            ::kill(pid, sig);
        }
        const int status = pid > 0 ? wait_child(pid, 20) : -1;
        pid = -1;
        return status;
    }
    std::string output() const { return read_file(output_path); }
    ~ServeProcess() { stop(); }
};

// No test run of the tool may take longer; it is killed then.
constexpr int tool_deadline_seconds = 60;

struct ToolRun {
    int status = -1;      // exit status; -1 when it did not exit normally
    std::string out;      // standard output (and standard error, for a shell-quoted run)
    std::string err;      // standard error
    double seconds = 0;   // wall-clock time it ran
    long max_rss_kb = 0;  // peak resident memory
};

// Where the tool's standard input comes from: nothing (/dev/null), a file,
// or a function writing to it from a process of its own (for input larger
// than any buffer).
struct ToolInput {
    std::string file;
    std::function<void(int fd)> writer;
    bool discard_output = false;  // standard output to /dev/null, not kept
};

// The standard output of a shell command.
inline std::string shell_output(const std::string &command) {
    std::string out;
    std::FILE *p = ::popen(command.c_str(), "r");
    char buf[512];
    for (std::size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    if (p != nullptr) {
        ::pclose(p);
    }
    return out;
}

namespace detail {

inline pid_t start_writer(const std::function<void(int)> &writer, int &read_end) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::signal(SIGPIPE, SIG_DFL);
        writer(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    read_end = fds[0];
    return pid;
}

// Reads both pipes to their end.
inline void drain(int out_fd, int err_fd, ToolRun &r) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, tool_deadline_seconds * 1000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buf[4096];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
}

}  // namespace detail

// Runs the tool with args (no shell) and extra environment settings.
inline ToolRun run_tool(const std::vector<std::string> &args, const ToolInput &in = {},
                        const std::vector<std::pair<std::string, std::string>> &env = {}) {
    ToolRun r;
    int in_fd = ::open(in.file.empty() ? "/dev/null" : in.file.c_str(), O_RDONLY);
    const pid_t writer = in.writer ? detail::start_writer(in.writer, in_fd) : -1;
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
        return r;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in_fd, 0);
        ::dup2(in.discard_output ? ::open("/dev/null", O_WRONLY) : out[1], 1);
        ::dup2(err[1], 2);
        for (const auto &[name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<std::string> all = args;
        all.insert(all.begin(), tool_path());
        std::vector<char *> argv;
        for (std::string &a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::alarm(tool_deadline_seconds);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in_fd);
    ::close(out[1]);
    ::close(err[1]);
    detail::drain(out[0], err[0], r);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.max_rss_kb = usage.ru_maxrss;
    if (writer > 0) {
        ::kill(writer, SIGKILL);
        ::waitpid(writer, &status, 0);
    }
    return r;
}

// Runs the tool with arguments given as one shell-quoted string, its
// standard output and error together in out.
inline ToolRun run_tool_line(const std::string &args, const std::string &stdin_file = {}) {
    std::string cmd = "'" + tool_path() + "' " + args;
    if (!stdin_file.empty()) {
        cmd += " < '" + stdin_file + "'";
    }
    const CommandRun run = run_command(cmd);
    ToolRun r;
    r.status = run.status;
    r.out = run.out;
    return r;
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        if (tool_path().empty()) {
            GTEST_SKIP() << "the razivu tool is not built beside the tests";
        }
    }
};

}  // namespace razivu::test
