#include "support/test_env.h"

#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#ifndef _WIN32
#include <pwd.h>
#endif

namespace razivu::test {

std::string host(const std::string &windows_path) {
    if (on_windows) {
        return windows_path;
    }
    std::string out = root() + "/prefix/drive_";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(windows_path.at(0))));
    for (std::size_t i = 2; i < windows_path.size(); ++i) {
        out += windows_path[i] == '\\' ? '/' : windows_path[i];
    }
    return out;
}

std::string read_file(const std::string &path, std::ios::openmode mode) {
    std::ifstream in(path, mode);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string read_text(const std::string &path) {
    return read_file(path, std::ios::in);
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void make_dirs(const std::string &path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

std::string windows_dir() {
    const char *dir = on_windows ? std::getenv("windir") : nullptr;
    return dir != nullptr ? dir : "C:\\WINDOWS";
}

void write_profile(const std::string &text) {
    make_dirs(host("C:\\WINDOWS"));
    write_file(host("C:\\WINDOWS\\tarnex.ini"), text);
}

#ifdef _WIN32
void set_env(const char *name, const char *value) {
    ::_putenv_s(name, value);
}

void unset_env(const char *name) {
    ::_putenv_s(name, "");
}

std::string password_home() {
    return "";
}
#else
void set_env(const char *name, const char *value) {
    ::setenv(name, value, 1);
}

void unset_env(const char *name) {
    ::unsetenv(name);
}

std::string password_home() {
    return ::getpwuid(::getuid())->pw_dir;
}

CommandRun run_command(const std::string &cmd) {
    CommandRun r;
    std::FILE *p = ::popen((cmd + " 2>&1").c_str(), "r");
    char buf[512];
    for (std::size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    const int status = p != nullptr ? ::pclose(p) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
#endif

}  // namespace razivu::test
