// razivu: command-line front end of the library.
//
// Adding a command is one row of the table below: its help (which also makes
// its usage, its part of the manual page and its bash completion) and the
// function that runs it. Before a command runs, "--opt=value" is split into
// "--opt value" and -h or --help, wherever it stands (also before the
// command's name), prints the command's help, so that every command gets
// both without code of its own.
//
// Only `razivu serve` writes the library's log files: every other command's
// entries (the error stack's among them) go to RAZIVU_TOOL_LOG, or nowhere,
// so that a tool run beside a server never empties or fills its log.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/options.h"

namespace razivu_tool {
namespace {

struct Command {
    const Help *help;
    int (*run)(int argc, char **argv);
    bool library_log = false;  // writes the library's own log files
};

const Command commands[] = {
    {&call_help, cmd_call},       {&dump_help, cmd_dump},       {&proxy_help, cmd_proxy},
    {&serve_help, cmd_serve, true}, {&explain_help, cmd_explain}, {&sys_help, cmd_sys},
    {&font_help, cmd_font},       {&menu_help, cmd_menu},       {&diag_help, cmd_diag},
    {&days_help, cmd_days},       {&date_help, cmd_date},       {&version_help, cmd_version},
    {&help_help, cmd_help},
};

const Command *find_command(const char *name) {
    for (const Command &c : commands) {
        if (std::strcmp(c.help->name, name) == 0) {
            return &c;
        }
    }
    return nullptr;
}

// The arguments with "--opt=value" split in two, up to a "--".
std::vector<std::string> normalised(int argc, char **argv) {
    std::vector<std::string> out;
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        const std::size_t eq = word.find('=');
        if (!options_done && word.rfind("--", 0) == 0 && eq != std::string::npos && eq > 2) {
            out.push_back(word.substr(0, eq));
            out.push_back(word.substr(eq + 1));
        } else {
            out.push_back(word);
        }
        options_done = options_done || word == "--";
    }
    return out;
}

int unknown_command(const char *name) {
    std::fprintf(stderr, "razivu: unknown command '%s'; 'razivu help' lists them\n",
                 shown(name, Encoding::utf8, false).c_str());
    return exit_usage;
}

bool asks_for_help(const std::vector<std::string> &args) {
    for (const std::string &a : args) {
        if (a == "--") {
            return false;
        }
        if (a == help_option.name || a == help_option.alias) {
            return true;
        }
    }
    return false;
}

int run(const Command &c, std::vector<std::string> &args) {
    if (asks_for_help(args)) {
        print_command_help(stdout, *c.help);
        return exit_ok;
    }
    if (!c.library_log) {
        const char *own = std::getenv(tool_log_variable);
        SetLogRedirect(own != nullptr ? own : "");
    }
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return c.run(static_cast<int>(args.size()), argv.data());
}

}  // namespace

std::span<const Help *const> all_help() {
    static const std::vector<const Help *> list = [] {
        std::vector<const Help *> out;
        for (const Command &c : commands) {
            out.push_back(c.help);
        }
        return out;
    }();
    return list;
}

}  // namespace razivu_tool

int main(int argc, char **argv) {
    using namespace razivu_tool;
    if (argc < 2) {
        print_overview(stderr);
        return exit_usage;
    }
    const std::string first = argv[1];
    if (first == help_option.name || first == help_option.alias) {
        if (argc == 2) {
            print_overview(stdout);
            return exit_ok;
        }
        const Command *c = find_command(argv[2]);
        if (c == nullptr) {
            return unknown_command(argv[2]);
        }
        print_command_help(stdout, *c->help);
        return exit_ok;
    }
    if (first == "--version") {
        return cmd_version(0, nullptr);
    }
    const Command *c = find_command(argv[1]);
    if (c == nullptr) {
        return unknown_command(argv[1]);
    }
    std::vector<std::string> args = normalised(argc - 2, argv + 2);
    return run(*c, args);
}
