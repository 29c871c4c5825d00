// The razivu tool's subcommands. Each takes the arguments after its name
// (options already split from their values, see main.cpp) and returns the
// process exit code; each has its help beside it (help.h).
#pragma once

#include <cstdint>

#include "cli/help.h"

namespace razivu_tool {

// Exit codes shared by every subcommand; help.cpp documents them.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;   // ran, and the answer is a failure
constexpr int exit_usage = 2;    // the command line was wrong
constexpr int exit_io = 3;       // a connection, file or reply could not be used
constexpr int exit_timeout = 4;  // a time-out passed

// Names the file the log entries of every command but serve go to; without
// it they are dropped (main.cpp).
constexpr const char *tool_log_variable = "RAZIVU_TOOL_LOG";

int cmd_diag(int argc, char **argv);
int cmd_serve(int argc, char **argv);
int cmd_call(int argc, char **argv);
int cmd_dump(int argc, char **argv);
int cmd_days(int argc, char **argv);
int cmd_date(int argc, char **argv);
int cmd_font(int argc, char **argv);
int cmd_menu(int argc, char **argv);

int cmd_explain(int argc, char **argv);
int cmd_sys(int argc, char **argv);
int cmd_proxy(int argc, char **argv);
int cmd_help(int argc, char **argv);
int cmd_version(int argc, char **argv);

extern const Help diag_help;
extern const Help serve_help;
extern const Help call_help;
extern const Help dump_help;
extern const Help days_help;
extern const Help date_help;
extern const Help explain_help;
extern const Help sys_help;
extern const Help proxy_help;
extern const Help help_help;
extern const Help version_help;
extern const Help font_help;
extern const Help menu_help;

}  // namespace razivu_tool
