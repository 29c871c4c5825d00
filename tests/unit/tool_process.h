// Runs the razivu tool of the same build as a user would: a process of its
// own, its standard output and standard error apart, with its exit status,
// how long it ran and its peak memory.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

namespace razivu::test {

// No test run of the tool may take longer; it is killed then.
constexpr int tool_deadline_seconds = 60;

struct ToolRun {
    int status = -1;      // exit status; -1 when it did not exit normally
    std::string out;      // standard output
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

// <build>/tools/razivu beside <build>/tests/; empty when it is not built.
inline std::string tool_path() {
    std::error_code ec;
    const auto tests = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    const auto tool = tests.parent_path() / "tools" / "razivu";
    return !ec && std::filesystem::exists(tool, ec) ? tool.string() : std::string();
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

}  // namespace razivu::test
