// Helpers shared by the test suites: the temporary tree of the running test
// process, small file utilities, the environment, descriptors and child
// processes (the library's state is per process), the same on Linux and
// Windows. Windows has no fork: a test that needs a child skips there first.
#pragma once

#include <algorithm>
#include <csignal>
#include <ctime>
#include <functional>
#include <ios>
#include <string>
#include <sys/types.h>
#include <vector>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace razivu::test {

#ifdef _WIN32
constexpr bool on_windows = true;
#else
constexpr bool on_windows = false;
#endif

// The sanitizer the tests run under, where it changes what a test can see.
#if defined(__has_feature)
constexpr bool under_address_sanitizer = __has_feature(address_sanitizer);
constexpr bool under_thread_sanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool under_address_sanitizer = false;
constexpr bool under_thread_sanitizer = false;
#endif

// Root of this process's temporary tree; RAZIVU_PREFIX is root()/prefix,
// HOME root()/home and the working folder root()/work.
const std::string &root();

// The host path of a Windows-form path below RAZIVU_PREFIX, computed here
// independently of the library ("C:\a\b" -> <prefix>/drive_c/a/b); on
// Windows the path itself.
std::string host(const std::string &windows_path);

// The bytes of a file; read_text the text a C program reads from it, whose
// line ends are "\n" also where Windows writes "\r\n" (logs and traces).
std::string read_file(const std::string &path, std::ios::openmode mode = std::ios::binary);
std::string read_text(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool exists(const std::string &path);
// mkdir -p
void make_dirs(const std::string &path);

// The Windows directory as the system names it (%windir%), or the Linux
// stand-in's C:\WINDOWS.
std::string windows_dir();

// Writes C:\WINDOWS\tarnex.ini with the given text.
void write_profile(const std::string &text);

// setenv and unsetenv.
void set_env(const char *name, const char *value);
void unset_env(const char *name);
// The user's home in the password database ("" on Windows).
std::string password_home();

// A shell command's exit status (-1 when it did not exit) and its standard
// output and error together.
struct CommandRun {
    int status = -1;
    std::string out;
};
CommandRun run_command(const std::string &cmd);  // Linux only

constexpr int child_deadline_seconds = 60;

// The descriptor number the C library hands out next.
#ifdef _WIN32
inline int lowest_free_fd() {
    const int fd = ::_dup(0);
    ::_close(fd);
    return fd;
}
inline pid_t run_child(const std::function<int()> &) { return -1; }
inline int wait_child(pid_t, int = child_deadline_seconds) { return -1; }
#else
inline int lowest_free_fd() {
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

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

// Runs fn(0) to fn(n - 1) in n child processes let go at the same moment; how
// many of them exited with 0 within the deadline.
inline int run_together(int n, const std::function<int(int)> &fn) {
    int gate[2];
    if (::pipe(gate) != 0) {
        return -1;
    }
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        pids.push_back(run_child([&, i] {
            char c = 0;
            ::close(gate[1]);  // the parent's close lets every child go at once
            return ::read(gate[0], &c, 1) == 0 ? fn(i) : -1;
        }));
    }
    ::close(gate[0]);
    ::close(gate[1]);
    return static_cast<int>(std::count_if(pids.begin(), pids.end(), [](pid_t pid) { return wait_child(pid) == 0; }));
}
#endif

}  // namespace razivu::test
