// Mapping of Windows-form paths to host paths below RAZIVU_PREFIX.
#pragma once

#include <cstddef>
#include <string>

namespace razivu::platform::posix {

// Root of the stand-in tree: $RAZIVU_PREFIX, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/razivu.
std::string prefix();

// "X:rest" becomes "<prefix>/drive_x/rest" with backslashes turned into
// slashes; any other path is a host path and stays as it is.
std::string host_path(const char *path);

// True when path names something on drive C, the system drive.
bool on_system_drive(const char *path);

// Makes sure the prefix, drive C and the Windows directory exist, as they
// always do on a Windows system. Failures show up at the following open.
void ensure_system_drive();

}  // namespace razivu::platform::posix
