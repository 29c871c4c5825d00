// The razivu tool's subcommands. Each takes the arguments after its name and
// returns the process exit code.
#pragma once

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
int cmd_menu(int argc, char **argv);

}  // namespace razivu_tool
