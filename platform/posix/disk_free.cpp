// Free disk space on Linux: statvfs of the folder a drive letter maps to.
#include <cstdint>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace razivu::platform {

// One fragment is one cluster of one sector, so no count is ever rounded.
// The free count is f_bavail: what an unprivileged caller may still fill,
// as Windows counts the space left under the caller's quota.
bool disk_free(const char *root, disk_space *out) {
    if (root == nullptr || out == nullptr) {
        return false;
    }
    if (posix::on_system_drive(root)) {
        posix::ensure_system_drive();
    }
    // statvfs answers for plain files too, but a drive is a folder.
    const std::string host = posix::host_path(root);
    struct stat st{};
    struct statvfs vfs{};
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::statvfs(host.c_str(), &vfs) != 0) {
        return false;
    }
    const unsigned long fragment = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    if (fragment == 0 || fragment > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    out->sectors_per_cluster = 1;
    out->bytes_per_sector = static_cast<uint32_t>(fragment);
    out->free_clusters = vfs.f_bavail;
    out->total_clusters = vfs.f_blocks;
    return true;
}

}  // namespace razivu::platform
