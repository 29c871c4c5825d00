// razivu menu create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]]:
// puts the product's group, or one item in it, into the program menu and
// tells the status code with its meaning, for installer scripts.
#include <cstdint>
#include <cstdio>
#include <string>
#include <strings.h>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/numbers.h"

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

// Positions in the arguments of "add": the text ones come first.
enum AddArg { add_verb, add_command, add_name, add_icon, add_index, add_x, add_y, add_end };

int report(int32_t status) {
    std::printf("%d %s\n", static_cast<int>(status), meaning(status));
    return status == RAZIVU_STATUS_OK ? exit_ok : exit_failed;
}

}  // namespace

const Help menu_help{
    "menu",
    "create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]]",
    "put the product's program group, or an item in it, into the program menu",
    "create makes the group KOV (CreateProgramGroup); add puts one item into it,\n"
    "replacing an item of the same name (AddProgramItem). Prints the status code and its\n"
    "meaning; exit status 0 only for status 0. On Linux the group and its items are\n"
    "freedesktop menu files; RAZIVU_PROGMAN=off makes every command fail with 1007.\n"
    "  $ razivu menu add 'C:\\KOV\\kov.exe /s' 'KOV Client'\n"
    "  0 done",
    {},
    Operands::none};

int cmd_menu(int argc, char **argv) {
    Args args;
    if (!parse_args(menu_help, argc, argv, 1, add_end, args)) {
        return exit_usage;
    }
    const auto &ops = args.operands;
    const auto n = static_cast<int>(ops.size());
    if (n == 1 && ::strcasecmp(ops[0], "create") == 0) {
        return report(CreateProgramGroup());
    }
    // X comes only with Y.
    if (n <= add_command || n == add_y || ::strcasecmp(ops[add_verb], "add") != 0) {
        return usage_error(menu_help, "give create, or add and a command line");
    }
    const char *const names[] = {"ICONINDEX", "X", "Y"};
    int32_t numbers[add_end - add_index] = {};
    for (int i = add_index; i < n; ++i) {
        const char *given = ops[static_cast<std::size_t>(i)];
        if (!parse_int32(given, INT32_MIN, INT32_MAX, numbers[i - add_index])) {
            return usage_error(menu_help, std::string(names[i - add_index]) +
                                              " must be a 32-bit integer, not '" + given + "'");
        }
    }
    const auto text = [&](int i) { return n > i ? ops[static_cast<std::size_t>(i)] : nullptr; };
    return report(AddProgramItem(ops[add_command], text(add_name), text(add_icon), numbers[0],
                                 numbers[1], numbers[2]));
}

}  // namespace razivu_tool
