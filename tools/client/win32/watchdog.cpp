// The watchdog on Windows: a timer-queue timer whose callback writes and
// ends the process.
#include "client/watchdog.h"

#include <windows.h>

#include <cstdlib>

namespace razivu_tool::watchdog {
namespace {

// Process-wide: the timer and what its callback writes.
struct Last {
    HANDLE timer = nullptr;  // armed timer, or none
    std::string out;
    std::string err;
    int status = 0;
};
Last last;

void write_all(DWORD which, const std::string &text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

VOID CALLBACK on_time(PVOID, BOOLEAN) {
    write_all(STD_OUTPUT_HANDLE, last.out);
    write_all(STD_ERROR_HANDLE, last.err);
    std::_Exit(last.status);
}

}  // namespace

void arm(int32_t ms, const std::string &out_text, const std::string &err_text, int status) {
    disarm();
    last.out = out_text;
    last.err = err_text;
    last.status = status;
    CreateTimerQueueTimer(&last.timer, nullptr, on_time, nullptr,
                          static_cast<DWORD>(ms), 0, WT_EXECUTEONLYONCE);
}

void disarm() {
    if (last.timer != nullptr) {
        DeleteTimerQueueTimer(nullptr, last.timer, INVALID_HANDLE_VALUE);
        last.timer = nullptr;
    }
}

}  // namespace razivu_tool::watchdog
