// The product's program group as the shell keeps it, read back for `razivu
// menu list` and for telling a missing group from a missing shell. On Linux
// these are the freedesktop files the library's stand-in writes (progman.h
// names them); Windows' shell offers no such reading. posix/menu_files.cpp,
// win32/menu_files.cpp.
#pragma once

#include <string>
#include <vector>

namespace razivu_tool {

struct MenuItem {
    std::string name;     // as the menu shows it
    std::string command;  // what it starts
    std::string file;     // where it is kept
};

struct MenuGroup {
    bool exists = false;  // the group's directory entry is there
    std::vector<MenuItem> items;
};

// False when this system keeps the group where the tool cannot read it.
bool read_menu_group(MenuGroup &out);

}  // namespace razivu_tool
