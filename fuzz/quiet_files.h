// What the message fuzz targets share. The error log: every decoder failure
// pushes, and every push appends to errstack.txt; here the file calls fail at
// once instead, so an input costs no system call for its log entries and no
// file grows.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace razivu::fuzz {

inline void quiet_files() {
    static const bool done = [] {
        platform::FileCalls &calls = platform::file_calls();
        calls.open = [](const char *, const char *) -> std::FILE * {
            errno = ENOENT;
            return nullptr;
        };
        calls.open_own = calls.open;
        calls.make_dir = [](const char *) { return int32_t{-1}; };
        return true;
    }();
    (void)done;
}

// A failed check aborts, as libFuzzer expects of a fault it found.
inline void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace razivu::fuzz
