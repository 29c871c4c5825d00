// The razivu tool's subcommands. Each takes the arguments after its name and
// returns the process exit code.
#pragma once

#include <cstdint>

namespace razivu_tool {

// Exit codes shared by every subcommand.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;  // the operation ran and failed
constexpr int exit_usage = 2;   // the command line was wrong

int cmd_diag(int argc, char **argv);
int cmd_serve(int argc, char **argv);
int cmd_call(int argc, char **argv);
int cmd_dump(int argc, char **argv);
int cmd_days(int argc, char **argv);
int cmd_date(int argc, char **argv);
int cmd_font(int argc, char **argv);
int cmd_menu(int argc, char **argv);

// Parses argv[0..n) as signed 32-bit decimals into values_out; false after
// naming the first bad one, as "razivu CMD: NAME must be a 32-bit integer".
bool parse_args(const char *cmd, char **argv, const char *const *names, int32_t *values_out,
                int n);

}  // namespace razivu_tool
