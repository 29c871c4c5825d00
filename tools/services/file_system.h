// The file system a host path lies on, for `razivu sys PATH`: the library's
// drive queries answer for a drive's root (the first three characters of a
// path), which says nothing of a path such as /tmp. posix/file_system.cpp,
// win32/file_system.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool {

struct FileSystem {
    std::string type;         // "ext4", "tmpfs", "NTFS"; "unknown" when the system does not say
    uint64_t free_bytes = 0;  // free to an unprivileged user
};

// False with why (the system's text) when path cannot be examined.
bool file_system_of(const char *path, FileSystem &out, std::string &why);

}  // namespace razivu_tool
