// The Linux stand-in for Program Manager: an interpreter of its bracketed
// command language that keeps the groups and items as freedesktop menu
// files. Inner pieces, reachable by tests and the fuzz target.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace razivu::standins::progman {

// ---- The command language (progman_parse.cpp) ----------------------------------

// One command: its name as written and its arguments, unquoted and trimmed.
struct Command {
    std::string name;
    std::vector<std::string> args;
};

// Parses one or more bracketed commands: "[Name]" or "[Name(arg, ...)]",
// blanks allowed between and around them. An unquoted argument runs to the
// next , ( ) [ or ] and loses its surrounding blanks; a quoted one runs to
// the next lone " ("" stands for one "). nullopt on any syntax error.
std::optional<std::vector<Command>> parse(std::string_view text);

// ---- Menu and desktop-entry texts (progman_entry.cpp) -----------------------------

// Ids longer than this are cut and marked with a hash of the whole name.
constexpr std::size_t id_cap = 96;

// The file-name-safe id of a group or item name: ASCII letters lower-cased
// and digits stay, every other byte becomes '_' and two lower-case hex
// digits ("Acme Editor" -> "acme_20editor"). Distinct names (up to ASCII
// case) get distinct ids; an id past id_cap characters is cut at an escape
// boundary and ends in '.' and 16 hex digits of the name's hash.
std::string make_id(std::string_view name);

// The value of a key in a desktop entry: escapes \\ \n \t \r, a leading
// blank as \s, other control characters become blanks.
std::string entry_value(std::string_view text);

// What AddItem says about one launcher.
struct Launcher {
    std::string name;          // as given, any encoding
    std::string command_line;  // Windows form: program path, then arguments
    std::string icon_path;     // empty: none
    std::string work_dir;      // empty: the program's folder
};

// The Exec= value (before entry_value): the program's host path and the
// arguments split by the Windows rules, each quoted as the Desktop Entry
// specification asks. Empty when the command line names no program.
std::string exec_line(std::string_view command_line);

// The name of an item added without one: the title of its program's file
// name ("C:\\APPS\\EDIT.EXE /x" gives "EDIT").
std::string default_item_name(std::string_view command_line);

// Whole files: a launcher and a group's .directory entry.
std::string desktop_entry(const Launcher &item);
std::string directory_entry(std::string_view group_name);

// ---- The merged menu (progman_menu.cpp) -------------------------------------------
//
// Edits keep every byte outside what they change, so entries that other
// programs wrote survive. Each returns false, leaving xml alone, when the
// text is not a menu file it understands.

// A merged menu with the group's submenu menu_name, its directory file and
// no launcher.
std::string new_menu(std::string_view menu_name, std::string_view directory_file);
// Makes sure the submenu exists and, unless file is empty, includes file.
bool menu_include(std::string &xml, std::string_view menu_name, std::string_view directory_file,
                  std::string_view file);
// Removes every <Filename>file</Filename> the submenu includes.
bool menu_exclude(std::string &xml, std::string_view menu_name, std::string_view file);
// The files the submenu includes by name, in order.
std::optional<std::vector<std::string>> menu_files(std::string_view xml,
                                                   std::string_view menu_name);
// True when the text holds nothing but the submenu's name, directory and
// empty includes: nothing another program would miss.
bool menu_is_bare(std::string_view xml, std::string_view menu_name);

// ---- The interpreter (progman_shell.cpp) -------------------------------------------

// Carries out the commands of one execute transaction in order, stopping at
// the first that fails. True when all were carried out.
bool execute(std::string_view text);

// Forgets the current group (tests start from a fresh shell).
void reset_shell();

}  // namespace razivu::standins::progman
