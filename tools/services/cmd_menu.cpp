// razivu menu create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]] |
//            list | remove [NAME]:
// puts the product's group, or one item in it, into the program menu, shows
// what it holds, or takes it out again, and tells the status code with its
// meaning, for installer scripts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <strings.h>
#include <vector>

#include <razivu/razivu.h>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/json.h"
#include "cli/options.h"
#include "common/numbers.h"
#include "services/menu_files.h"

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

constexpr const char *no_group = "the group KOV does not exist; razivu menu create makes it";

const Option options[] = {
    {"--json", nullptr, nullptr, "print one JSON object instead of a line"},
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

// A refused command names the missing group, or the missing item, where
// the tool can see that it is missing.
int report(int32_t status, bool json, const char *item = nullptr) {
    MenuGroup group;
    const bool seen = status == RAZIVU_STATUS_DDE_COMMAND && read_menu_group(group);
    const bool has_item = item == nullptr || std::any_of(group.items.begin(), group.items.end(),
                                                         [&](const MenuItem &i) { return i.name == item; });
    const std::string text = seen && !group.exists ? no_group
                             : seen && !has_item
                                 ? "the group KOV has no item " + shown(item, Encoding::utf8, true)
                                 : meaning(status);
    if (json) {
        std::printf("%s\n", JsonObject().number("status", status).text("meaning", text).str().c_str());
    } else {
        std::printf("%d %s\n", static_cast<int>(status), text.c_str());
    }
    return status == RAZIVU_STATUS_OK ? exit_ok : exit_failed;
}

int list(bool json) {
    MenuGroup group;
    if (!read_menu_group(group)) {
        std::fprintf(stderr, "razivu menu: the shell of this system shows its groups itself (the "
                             "Start menu's Programs folder)\n");
        return exit_failed;
    }
    if (json) {
        std::vector<std::string> items;
        for (const MenuItem &i : group.items) {
            items.push_back(
                JsonObject().text("name", i.name).text("command", i.command).text("file", i.file).str());
        }
        std::printf("%s\n", JsonObject()
                                .text("group", "KOV")
                                .boolean("exists", group.exists)
                                .raw("items", json_array(items))
                                .str()
                                .c_str());
    } else if (!group.exists && group.items.empty()) {
        std::printf("no group KOV\n");
    } else {
        for (const MenuItem &i : group.items) {
            std::printf("%s\t%s\n", shown(i.name, Encoding::utf8, true).c_str(),
                        shown(i.command, Encoding::utf8, false).c_str());
        }
    }
    return exit_ok;
}

int add(const std::vector<const char *> &ops, bool json) {
    const auto n = static_cast<int>(ops.size());
    if (n <= add_command || n == add_y) {  // X comes only with Y
        return usage_error(menu_help, "add takes a command line, then NAME, ICONPATH, ICONINDEX, X and Y");
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
                                 numbers[1], numbers[2]),
                  json);
}

}  // namespace

const Help menu_help{
    "menu",
    "create | add COMMANDLINE [NAME [ICONPATH [ICONINDEX [X Y]]]] | list | remove [NAME]",
    "put the product's program group, or an item in it, into the program menu",
    "create makes the group KOV (CreateProgramGroup); add puts one item into it,\n"
    "replacing an item of the same name (AddProgramItem); remove takes the item NAME out\n"
    "(RemoveProgramItem), or without NAME the group with its items (RemoveProgramGroup).\n"
    "Each prints the status code and its meaning; exit status 0 only for status 0. A\n"
    "command refused because the group does not exist says so.\n"
    "list prints each item of the group, its name and what it starts (Linux only: Windows'\n"
    "shell shows its groups itself). On Linux the group and its items are freedesktop menu\n"
    "files; RAZIVU_PROGMAN=off makes every command fail with 1007.\n"
    "  $ razivu menu add 'C:\\KOV\\kov.exe /s' 'KOV Client'\n"
    "  0 done\n"
    "With --json: {\"status\":0,\"meaning\":\"done\"}; list gives {\"group\":\"KOV\",\"exists\":true,\n"
    "\"items\":[{\"name\":...,\"command\":...,\"file\":...}]}.",
    options,
    Operands::words,
    "create add list remove"};

int cmd_menu(int argc, char **argv) {
    Args args;
    if (!parse_args(menu_help, argc, argv, 1, add_end, args)) {
        return exit_usage;
    }
    const std::vector<const char *> &ops = args.operands;
    const bool json = args.has("--json");
    const auto verb = [&](const char *name) { return ::strcasecmp(ops[0], name) == 0; };
    if (verb("add")) {
        return add(ops, json);
    }
    if (verb("create") && ops.size() == 1) {
        return report(CreateProgramGroup(), json);
    }
    if (verb("list") && ops.size() == 1) {
        return list(json);
    }
    if (verb("remove") && ops.size() <= 2) {
        return ops.size() == 2 ? report(RemoveProgramItem(ops[1]), json, ops[1])
                               : report(RemoveProgramGroup(), json);
    }
    return usage_error(menu_help, "give create, add and a command line, list, or remove");
}

}  // namespace razivu_tool
