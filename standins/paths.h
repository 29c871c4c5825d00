// Where the stand-ins keep their files: Windows-form paths mapped below
// RAZIVU_PREFIX, and the user's home and XDG base folders.
#pragma once

#include <string>

namespace razivu::standins {

// The Windows directory's own text.
constexpr const char *windows_dir_text = "C:\\WINDOWS";

// Root of the stand-in tree: $RAZIVU_PREFIX, else
// ${XDG_DATA_HOME:-<home>/.local/share}/razivu, else /var/lib/razivu.
std::string prefix();

// $HOME, else the password database's home of the user; "" for a user
// without a usable home ("/", "/nonexistent" and the like).
std::string home_dir();

// An XDG base folder: the variable's value when it is an absolute path, else
// <home><below_home>; "" without a home.
std::string xdg_dir(const char *variable, const char *below_home);
// $XDG_DATA_HOME, else $HOME/.local/share; $XDG_CONFIG_HOME, else $HOME/.config.
std::string data_home();
std::string config_home();

// "X:rest" becomes "<prefix>/drive_x/rest", "\\\\server\\share\\rest"
// "<prefix>/unc/server/share/rest"; backslashes are slashes in every path;
// any other path is a host path.
std::string host_path(const char *path);

// True when path names something on drive C, the system drive.
bool on_system_drive(const char *path);

// Makes sure the prefix, drive C and the Windows directory exist, as they
// always do on a Windows system. Failures show up at the following open.
void ensure_system_drive();

}  // namespace razivu::standins
