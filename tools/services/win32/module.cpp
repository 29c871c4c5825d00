// Modules on Windows: LoadLibrary.
#include "services/module.h"

#include <windows.h>

#include <cstring>

namespace razivu_tool::module {
namespace {

constexpr const char *call_symbol = "razivu_module_call";
constexpr const char *init_symbol = "razivu_module_init";
constexpr DWORD message_cap = 256;

template <typename Fn>
Fn function_of(HMODULE module, const char *symbol) {
    const FARPROC found = GetProcAddress(module, symbol);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof found);
    std::memcpy(&fn, &found, sizeof fn);
    return fn;
}

std::string system_text(DWORD error) {
    char text[message_cap] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                   text, message_cap, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "error " + std::to_string(error) : out;
}

}  // namespace

Loaded load(const char *path) {
    const bool bare = std::strpbrk(path, "\\/:") == nullptr;
    const std::string file = bare ? std::string(".\\") + path : path;
    const HMODULE module = LoadLibraryA(file.c_str());
    Loaded loaded;
    if (module == nullptr) {
        loaded.why = std::string(path) + ": " + system_text(GetLastError());
        return loaded;
    }
    loaded.call = function_of<CallFn>(module, call_symbol);
    loaded.init = function_of<InitFn>(module, init_symbol);
    if (loaded.call == nullptr) {
        loaded.why = std::string(path) + " does not export " + call_symbol;
        FreeLibrary(module);
    }
    return loaded;
}

}  // namespace razivu_tool::module
