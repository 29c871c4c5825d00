// Inner steps of the Program Manager operations, reachable by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace razivu::support {

// The product's group; no operation takes a group name.
constexpr const char *progman_group = "KOV";
// The DDE service and topic.
constexpr const char *progman_service = "PROGMAN";
// How long one execute transaction may wait for the shell.
constexpr uint32_t progman_timeout_ms = 5000;
// The longest command text, terminator not counted; longer ones are refused
// whole, since a command cut short could be another command.
constexpr std::size_t progman_command_max = 1023;

// The commands of one AddProgramItem, in the order they are sent.
struct ItemCommands {
    std::string show;     // [ShowGroup(KOV,1)]
    std::string replace;  // [ReplaceItem(name)]
    std::string add;      // one of the four AddItem forms
};

// An argument as it must stand in a command so that it reads back as the
// same text: as it is, or in double quotes with inner quotes doubled.
std::string command_argument(const char *text);

// "[ShowGroup(KOV,1)]": makes the product's group the one items go to.
std::string show_group_command();

// The program of a Windows command line: its first word, or the text of its
// leading quotes ("\"C:\My Apps\ed.exe\" /x" gives "C:\My Apps\ed.exe").
std::string program_path(const char *command_line);

// The program's file name without directory and extension ("C:\KOV\EDIT.EXE
// /x" gives "EDIT"); empty when it has none.
std::string program_title(const char *command_line);

// The three commands of AddProgramItem. command_line must not be null; a
// null or empty item_name is named after the program; a null or empty
// icon_path with an icon index or position names the program. Returns 0, or the
// status of AddProgramItem without sending: 1 when no name can be found,
// 1007 when a command would exceed progman_command_max characters.
int32_t item_commands(const char *command_line, const char *item_name, const char *icon_path,
                      int32_t icon_index, int32_t x, int32_t y, ItemCommands *out);

}  // namespace razivu::support
