// GoogleTest's own threads wait on a Notification made of std::mutex and
// std::condition_variable, which the win32 thread model of the mingw
// compiler lacks. The place GoogleTest leaves for such a port (this file
// stands before its own empty one on the include path of the Windows build)
// gets a flag that is polled.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    void Notify() { notified_ = true; }
    void WaitForNotification() {
        while (!notified_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
