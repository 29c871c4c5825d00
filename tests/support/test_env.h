// Helpers shared by the test suites: the temporary tree of the running test
// process and small file utilities.
#pragma once

#include <string>

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
bool is_dir(const std::string &path);
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

}  // namespace razivu::test
