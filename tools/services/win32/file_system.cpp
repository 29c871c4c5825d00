// The file system of a path on Windows: the volume it lies on, its free
// space and its file system's name.
#include "services/file_system.h"

#include <windows.h>

#include "common/net_io.h"

namespace razivu_tool {

bool file_system_of(const char *path, FileSystem &out, std::string &why) {
    char volume[MAX_PATH + 1] = {};
    char type[MAX_PATH + 1] = {};
    ULARGE_INTEGER free_to_caller{};
    if (GetVolumePathNameA(path, volume, sizeof volume) == 0 ||
        GetDiskFreeSpaceExA(path, &free_to_caller, nullptr, nullptr) == 0) {
        why = net::error_text(static_cast<int>(GetLastError()));
        return false;
    }
    const bool named = GetVolumeInformationA(volume, nullptr, 0, nullptr, nullptr, nullptr, type,
                                             sizeof type) != 0;
    out.type = named ? type : "unknown";
    out.free_bytes = free_to_caller.QuadPart;
    return true;
}

}  // namespace razivu_tool
