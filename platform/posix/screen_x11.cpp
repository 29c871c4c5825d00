// Screen size on Linux: the X display that DISPLAY names. libX11 is loaded
// at run time, so the library links and runs on machines without X.
#include <dlfcn.h>

#include "platform/platform.h"

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

}  // namespace razivu::platform
