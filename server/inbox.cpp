// A client's bytes as the reader asks for them: see inbox.h.
#include "server/inbox.h"

#include <chrono>
#include <cstring>

namespace razivu::server {

namespace net = platform::net;

net::Ready Inbox::look() const {
    return len_ > 0 ? net::Ready::data : net::peek(conn_);
}

net::Ready Inbox::wait(int32_t ms) const {
    return len_ > 0 ? net::Ready::data : net::wait_for_data(conn_, ms);
}

net::Ready Inbox::wait_more(int32_t ms) const {
    return net::wait_for_data(conn_, ms);
}

bool Inbox::read_more() {
    if (start_ + len_ == cap) {
        std::memmove(buf_, buf_ + start_, len_);
        start_ = 0;
    }
    const int32_t got = net::receive_some(conn_, buf_ + start_ + len_, static_cast<int32_t>(cap - start_ - len_));
    if (got <= 0) {
        return false;
    }
    len_ += static_cast<std::size_t>(got);
    total_ += static_cast<uint64_t>(got);
    return true;
}

bool Inbox::have(std::size_t n) {
    if (start_ + n > cap) {
        std::memmove(buf_, buf_ + start_, len_);
        start_ = 0;
    }
    while (len_ < n) {
        if (!read_more()) {
            return false;
        }
    }
    return true;
}

void Inbox::take(std::size_t n) {
    start_ += n;
    len_ -= n;
    if (len_ == 0) {
        start_ = 0;
    }
}

void Inbox::drain(int32_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (auto left = ms; left > 0 && net::wait_for_data(conn_, left) == net::Ready::data;) {
        const int32_t got = net::receive_some(conn_, buf_, static_cast<int32_t>(cap));
        if (got <= 0) {
            return;
        }
        total_ += static_cast<uint64_t>(got);
        left = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
    }
}

}  // namespace razivu::server
