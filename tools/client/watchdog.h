// The last resort for the waits no socket option bounds: a connect against
// a full backlog (the system retries for about two minutes), a name look-up,
// a send to a peer that reads nothing. When the time passes, the process
// writes its closing texts and ends. posix/watchdog.cpp, win32/watchdog.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool::watchdog {

// After ms milliseconds (1 or more), writes out_text to standard output and
// err_text to standard error and ends the process with status. Standard
// output should hold nothing unflushed when this is armed. Replaces an
// earlier arming.
void arm(int32_t ms, const std::string &out_text, const std::string &err_text, int status);
// Stops the clock; nothing happens after this returns.
void disarm();

}  // namespace razivu_tool::watchdog
