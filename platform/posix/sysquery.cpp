// System queries on Linux: registry keys and drives through the stand-ins,
// free space from statvfs, the screen from the X display that DISPLAY names
// (libX11 loaded at run time, so the library links and runs on machines
// without X), and the version from uname.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <dlfcn.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include "platform/platform.h"
#include "platform/posix/sysquery.h"
#include "standins/paths.h"
#include "standins/registry.h"

namespace razivu::platform::posix {
namespace {

// Reads the decimal number at *text and moves past it; false when there
// is no digit or the number does not fit int32_t.
bool read_number(const char **text, int32_t *out) {
    const char *p = *text;
    int64_t value = 0;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return false;
    }
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = value * 10 + (*p - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
    }
    *out = static_cast<int32_t>(value);
    *text = p;
    return true;
}

}  // namespace

bool parse_kernel_release(const char *release, int32_t *major_out, int32_t *minor_out) {
    if (release == nullptr) {
        return false;
    }
    int32_t major = 0;
    int32_t minor = 0;
    const char *p = release;
    if (!read_number(&p, &major) || *p++ != '.' || !read_number(&p, &minor)) {
        return false;
    }
    *major_out = major;
    *minor_out = minor;
    return true;
}

}  // namespace razivu::platform::posix

namespace razivu::platform {
namespace {

constexpr const char *x11_library = "libX11.so.6";

// The few Xlib entry points needed; Display is opaque here.
struct x11_api {
    void *(*open_display)(const char *name) = nullptr;  // XOpenDisplay
    int (*default_screen)(void *display) = nullptr;     // XDefaultScreen
    int (*display_width)(void *display, int screen) = nullptr;   // XDisplayWidth
    int (*display_height)(void *display, int screen) = nullptr;  // XDisplayHeight
    int (*close_display)(void *display) = nullptr;      // XCloseDisplay
    bool loaded = false;  // every pointer above is set
};

template <typename Fn>
bool resolve(void *lib, const char *name, Fn *out) {
    *out = reinterpret_cast<Fn>(::dlsym(lib, name));
    return *out != nullptr;
}

// Loaded once and never unloaded: Xlib is not made to be unloaded from a
// running process. Without the library every pointer stays null.
x11_api load_x11() {
    x11_api api;
    void *lib = ::dlopen(x11_library, RTLD_LAZY | RTLD_LOCAL);
    if (lib == nullptr) {
        return api;
    }
    api.loaded = resolve(lib, "XOpenDisplay", &api.open_display) &&
                 resolve(lib, "XDefaultScreen", &api.default_screen) &&
                 resolve(lib, "XDisplayWidth", &api.display_width) &&
                 resolve(lib, "XDisplayHeight", &api.display_height) &&
                 resolve(lib, "XCloseDisplay", &api.close_display);
    return api;
}

const x11_api &x11() {
    static const x11_api api = load_x11();
    return api;
}

}  // namespace

bool registry_key_exists(const char *subkey) {
    return standins::registry_key_exists(subkey);
}

// One fragment is one cluster of one sector, so no count is ever rounded.
// The free count is f_bavail: what an unprivileged caller may still fill,
// as Windows counts the space left under the caller's quota.
bool disk_free(const char *root, disk_space *out) {
    if (root == nullptr || out == nullptr) {
        return false;
    }
    if (standins::on_system_drive(root)) {
        standins::ensure_system_drive();
    }
    // statvfs answers for plain files too, but a drive is a folder.
    const std::string host = standins::host_path(root);
    struct stat st{};
    struct statvfs vfs{};
    if (file_calls().stat_host(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
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

// Each call opens the display afresh, so a display started or stopped since
// the last call is seen as it is now. Both sides are read over one
// connection: a server whose last client leaves resets itself and drops
// whoever connects meanwhile, so a second connection could find no screen.
void screen_size(int32_t *width_out, int32_t *height_out) {
    *width_out = 0;
    *height_out = 0;
    const x11_api &api = x11();
    void *display = api.loaded ? api.open_display(nullptr) : nullptr;
    if (display == nullptr) {
        return;
    }
    const int screen = api.default_screen(display);
    *width_out = api.display_width(display, screen);
    *height_out = *width_out != 0 ? api.display_height(display, screen) : 0;
    api.close_display(display);
}

bool os_version(os_version_info *out) {
    struct utsname host{};
    if (out == nullptr || ::uname(&host) != 0 ||
        !posix::parse_kernel_release(host.release, &out->major, &out->minor)) {
        return false;
    }
    out->platform_id = platform_not_windows;
    std::snprintf(out->name, sizeof out->name, "%s", host.sysname);
    return true;
}

}  // namespace razivu::platform
