// Running the razivu tool from a test: finding it next to the test programs,
// starting `razivu serve` as a real process on a free port, and running a
// command to collect its output and exit status. Header-only.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "loopback.h"

namespace razivu::test {

// How long `razivu serve` may take to say it listens.
constexpr int serve_start_ms = 10000;

// The tool of the same build: <build>/tools/razivu beside <build>/tests/.
inline std::string tool_path() {
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return {};
    }
    std::string dir(self, static_cast<std::size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));
    const std::string tool = dir.substr(0, dir.rfind('/')) + "/tools/razivu";
    struct stat st {};
    return ::stat(tool.c_str(), &st) == 0 ? tool : std::string();
}

// A `razivu serve --port N ...` process, stopped with SIGTERM at the end.
struct ServeProcess {
    pid_t pid = -1;
    uint16_t port = 0;
    int out = -1;        // its standard output
    std::string banner;  // what it printed before it listened

    // Starts the server with extra options; false when it does not listen.
    bool start(const std::vector<std::string> &options = {}) {
        port = free_port();
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0) {
            return false;
        }
        std::vector<std::string> args = {tool_path(), "serve", "--port", std::to_string(port)};
        args.insert(args.end(), options.begin(), options.end());
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipe_fds[1], 1);
            ::close(pipe_fds[0]);
            ::unsetenv("RAZIVU_DEBUG");
            std::vector<char *> argv;
            for (std::string &a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipe_fds[1]);
        out = pipe_fds[0];
        return wait_for("listening");
    }

    // Reads the server's output until text appears or the time is up.
    bool wait_for(const std::string &text) {
        for (int waited = 0; banner.find(text) == std::string::npos;) {
            pollfd p{out, POLLIN, 0};
            if (waited >= serve_start_ms || ::poll(&p, 1, 100) < 0) {
                return false;
            }
            waited += 100;
            char buf[256];
            const ssize_t n = (p.revents & (POLLIN | POLLHUP)) != 0 ? ::read(out, buf, sizeof buf) : 0;
            if (n < 0 || ((p.revents & POLLHUP) != 0 && n == 0)) {
                return false;
            }
            banner.append(buf, static_cast<std::size_t>(n > 0 ? n : 0));
        }
        return true;
    }

    // SIGTERM, then the exit status (-1 when it had to be killed).
    int stop() {
        if (pid <= 0) {
            return -1;
        }
        ::kill(pid, SIGTERM);
        const int status = wait_child(pid, 20);
        pid = -1;
        return status;
    }

    ~ServeProcess() {
        stop();
        if (out >= 0) {
            ::close(out);
        }
    }
};

struct ToolRun {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// Runs the tool with arguments given as one shell-quoted string.
inline ToolRun run_tool(const std::string &args, const std::string &stdin_file = {}) {
    std::string cmd = "'" + tool_path() + "' " + args;
    if (!stdin_file.empty()) {
        cmd += " < '" + stdin_file + "'";
    }
    cmd += " 2>&1";
    ToolRun r;
    std::FILE *p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace razivu::test
