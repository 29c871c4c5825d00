// razivu: command-line front end of the library.
#include <cstdio>
#include <cstring>

#include <razivu/razivu.h>

#include "commands.h"

namespace {

struct Command {
    const char *name;
    const char *usage;
    int (*run)(int argc, char **argv);
};

int cmd_version(int, char **) {
    std::printf("%s\n", GetVersionString());
    return razivu_tool::exit_ok;
}

const Command commands[] = {
    {"version", "version                       print the library's version string",
     cmd_version},
    {"diag", "diag [FUNCTION [CODE]]        push an error, trace it, show the error log",
     razivu_tool::cmd_diag},
    {"serve", "serve SERVICE|--port N [--workers N] [--idle S]\n"
              "                                demonstration server: Echo, the calendar functions",
     razivu_tool::cmd_serve},
    {"call", "call HOST SERVICE|PORT FUNCTION [s:TEXT|s:null|i:N|b:N|a:HEX|a:null]...\n"
             "                                send one call, print every field of the reply",
     razivu_tool::cmd_call},
    {"dump", "dump [CAPTURE]                print the fields of wire bytes (file or stdin)",
     razivu_tool::cmd_dump},
    {"days", "days D M Y                    print the day number of a date (1/1/1900 is 1)",
     razivu_tool::cmd_days},
    {"date", "date N                        print the date of a day number as D M Y",
     razivu_tool::cmd_date},
    {"font", "font NAME-OR-PATH...          print the face name or description an install reads",
     razivu_tool::cmd_font},
    {"menu", "menu create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]]\n"
             "                                the product's program group, or an item in it",
     razivu_tool::cmd_menu},
};

void usage(std::FILE *out) {
    std::fprintf(out, "usage: razivu COMMAND [ARGS]\n\ncommands:\n");
    for (const auto &c : commands) {
        std::fprintf(out, "  %s\n", c.usage);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? razivu_tool::exit_usage : razivu_tool::exit_ok;
    }
    for (const auto &c : commands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            return c.run(argc - 2, argv + 2);
        }
    }
    std::fprintf(stderr, "razivu: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return razivu_tool::exit_usage;
}
