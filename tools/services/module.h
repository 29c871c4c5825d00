// Modules of functions for `razivu serve --module PATH`: a shared object
// (a DLL on Windows) that exports
//
//   int32_t razivu_module_call(const char *function);
//
// with the contract of the server's call handler (razivu/server.h): it
// decodes the call's arguments, packs and sends its reply, and returns 0, or
// RAZIVU_E_NO_FUNCTION for a function it does not know; and may export
//
//   int32_t razivu_module_init(void);
//
// which runs once before the server starts (in every worker process too, on
// Windows): non-zero refuses the start. Echo and the calendar functions are
// the built-in module, written on the same interface.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool::module {

using CallFn = int32_t (*)(const char *function);
using InitFn = int32_t (*)();

struct Loaded {
    CallFn call = nullptr;  // nullptr when the module could not be loaded
    InitFn init = nullptr;  // nullptr when it has none
    std::string why;        // what failed, when call is nullptr
};

// Loads the module at path (a name without a directory is taken from the
// working directory, not searched for) and finds its functions. The module
// stays loaded for the life of the process. posix/module.cpp, win32/module.cpp.
Loaded load(const char *path);

// The built-in module: Echo and the calendar functions.
int32_t builtin_call(const char *function);

}  // namespace razivu_tool::module
