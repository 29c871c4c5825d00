// razivu menu create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]]:
// puts the product's group, or one item in it, into the program menu and
// tells the status code with its meaning, for installer scripts.
#include <cstdint>
#include <cstdio>
#include <strings.h>

#include <razivu/razivu.h>

#include "commands.h"

namespace razivu_tool {
namespace {

struct Meaning {
    int32_t status;
    const char *text;
};

constexpr Meaning meanings[] = {
    {RAZIVU_STATUS_OK, "done"},
    {RAZIVU_STATUS_FAILED, "no command line or item name, or the DDE instance was not released"},
    {RAZIVU_STATUS_DDE_SETUP, "the DDE client could not be set up; nothing was sent"},
    {RAZIVU_STATUS_DDE_COMMAND,
     "a command was not carried out (no shell answers to PROGMAN, it refused the command, or "
     "the command would be too long)"},
};

const char *meaning(int32_t status) {
    for (const Meaning &m : meanings) {
        if (m.status == status) {
            return m.text;
        }
    }
    return "unknown status";
}

int usage() {
    std::fprintf(stderr,
                 "usage: razivu menu create\n"
                 "       razivu menu add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]]\n");
    return exit_usage;
}

// Positions in the arguments of "add": the text ones come first.
enum AddArg { add_verb, add_command, add_name, add_icon, add_index, add_x, add_y, add_end };

int report(int32_t status) {
    std::printf("%d %s\n", static_cast<int>(status), meaning(status));
    return status == RAZIVU_STATUS_OK ? exit_ok : exit_failed;
}

}  // namespace

int cmd_menu(int argc, char **argv) {
    if (argc == 1 && ::strcasecmp(argv[0], "create") == 0) {
        return report(CreateProgramGroup());
    }
    // X comes only with Y.
    if (argc <= add_command || argc > add_end || argc == add_y ||
        ::strcasecmp(argv[add_verb], "add") != 0) {
        return usage();
    }
    const char *const names[] = {"ICONINDEX", "X", "Y"};
    int32_t numbers[add_end - add_index] = {};
    if (argc > add_index && !parse_args("menu", argv + add_index, names, numbers, argc - add_index)) {
        return exit_usage;
    }
    const auto text = [&](int i) { return argc > i ? argv[i] : nullptr; };
    return report(AddProgramItem(argv[add_command], text(add_name), text(add_icon), numbers[0],
                                 numbers[1], numbers[2]));
}

}  // namespace razivu_tool
