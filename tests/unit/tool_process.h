// The razivu tool as a process of its own, for the tests of its commands:
// `razivu serve` started and stopped with its output kept, any command run
// with its output and exit status, and raw clients on the 127/8 addresses.
#pragma once

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <unistd.h>
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

struct ToolRun {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// Runs the tool with arguments given as one shell-quoted string.
inline ToolRun run_tool(const std::string &args, const std::string &stdin_file = {}) {
    std::string cmd = "'" + tool_path() + "' " + args + " 2>&1";
    if (!stdin_file.empty()) {
        cmd += " < '" + stdin_file + "'";
    }
    ToolRun r;
    std::FILE *p = ::popen(cmd.c_str(), "r");
    char buf[512];
    for (std::size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    const int status = p != nullptr ? ::pclose(p) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
