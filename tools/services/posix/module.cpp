// Modules on Linux: dlopen.
#include "services/module.h"

#include <cstring>
#include <dlfcn.h>

namespace razivu_tool::module {
namespace {

constexpr const char *call_symbol = "razivu_module_call";
constexpr const char *init_symbol = "razivu_module_init";

// dlsym hands out an object pointer; the symbols are functions.
template <typename Fn>
Fn function_of(void *handle, const char *symbol) {
    void *found = ::dlsym(handle, symbol);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof found);
    std::memcpy(&fn, &found, sizeof fn);
    return fn;
}

}  // namespace

Loaded load(const char *path) {
    const std::string file = std::strchr(path, '/') != nullptr ? path : std::string("./") + path;
    void *handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    Loaded loaded;
    if (handle == nullptr) {
        const char *why = ::dlerror();
        loaded.why = why != nullptr ? why : "cannot be loaded";
        return loaded;
    }
    loaded.call = function_of<CallFn>(handle, call_symbol);
    loaded.init = function_of<InitFn>(handle, init_symbol);
    if (loaded.call == nullptr) {
        loaded.why = std::string(path) + " does not export " + call_symbol;
        ::dlclose(handle);
    }
    return loaded;
}

}  // namespace razivu_tool::module
