// The file system of a path on Linux: its free space from statvfs, its type
// from the mount table entry of the device the path lies on.
#include "services/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace razivu_tool {
namespace {

constexpr const char *mount_table = "/proc/self/mountinfo";
// A mountinfo line longer than this (a path of several KB) is skipped.
constexpr int line_cap = 4096;

// The file system type of the mount whose device is dev: the first field
// behind " - " of its mountinfo line, whose third field is "major:minor".
std::string type_of_device(dev_t dev) {
    std::FILE *table = std::fopen(mount_table, "re");
    if (table == nullptr) {
        return "unknown";
    }
    std::string type = "unknown";
    char line[line_cap];
    while (std::fgets(line, sizeof line, table) != nullptr) {
        unsigned major_n = 0;
        unsigned minor_n = 0;
        const char *dash = std::strstr(line, " - ");
        char name[64] = {};
        if (std::sscanf(line, "%*s %*s %u:%u", &major_n, &minor_n) == 2 && dash != nullptr &&
            makedev(major_n, minor_n) == dev && std::sscanf(dash + 3, "%63s", name) == 1) {
            type = name;
            break;
        }
    }
    std::fclose(table);
    return type;
}

}  // namespace

bool file_system_of(const char *path, FileSystem &out, std::string &why) {
    struct stat st {};
    struct statvfs vfs {};
    if (::stat(path, &st) != 0 || ::statvfs(path, &vfs) != 0) {
        why = std::strerror(errno);
        return false;
    }
    out.free_bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    out.type = type_of_device(st.st_dev);
    return true;
}

}  // namespace razivu_tool
