// Helpers shared by the test suites: the temporary tree of the running test
// process, small file utilities, descriptors and child processes (the
// library's state is per process).
#pragma once

#include <csignal>
#include <ctime>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace razivu::test {

// Root of this process's temporary tree; RAZIVU_PREFIX is root()/prefix,
// HOME root()/home and the working folder root()/work.
const std::string &root();

// The host path of a Windows-form path below RAZIVU_PREFIX, computed here
// independently of the library ("C:\a\b" -> <prefix>/drive_c/a/b).
std::string host(const std::string &windows_path);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool exists(const std::string &path);
// mkdir -p
void make_dirs(const std::string &path);

// Writes C:\WINDOWS\tarnex.ini with the given text.
void write_profile(const std::string &text);

// A shell command's exit status (-1 when it did not exit) and its standard
// output and error together.
struct CommandRun {
    int status = -1;
    std::string out;
};
CommandRun run_command(const std::string &cmd);

// The descriptor number the system hands out next.
inline int lowest_free_fd() {
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

constexpr int child_deadline_seconds = 60;

// Runs fn in a child process, whose exit status is fn's result.
inline pid_t run_child(const std::function<int()> &fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(fn());
    }
    return pid;
}

// The child's exit status; -1 when it did not exit normally within the deadline.
inline int wait_child(pid_t pid, int seconds = child_deadline_seconds) {
    const std::time_t give_up = std::time(nullptr) + seconds;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::time(nullptr) > give_up) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(2000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace razivu::test
