// A client's bytes, one whole field at a time: see inbox.h.
#include "server/inbox.h"

#include <chrono>
#include <cstring>
#include <string_view>

#include "common/net_io.h"

namespace razivu_tool::serve {

net::Ready Inbox::look() const {
    return len_ > 0 ? net::Ready::data : net::peek(conn_);
}

net::Ready Inbox::wait(int32_t ms) const {
    return len_ > 0 ? net::Ready::data : net::wait_for_data(conn_, ms);
}

// Holds at least n bytes; false when the client closed or the connection
// failed first.
bool Inbox::fill(std::size_t n) {
    if (start_ + n > cap) {
        std::memmove(buf_, buf_ + start_, len_);
        start_ = 0;
    }
    while (len_ < n) {
        const int32_t got = net::receive_some(conn_, buf_ + start_ + len_, static_cast<int32_t>(cap - start_ - len_));
        if (got <= 0) {
            return false;
        }
        len_ += static_cast<std::size_t>(got);
        total_ += static_cast<uint64_t>(got);
    }
    return true;
}

Inbox::Got Inbox::next(Field &out) {
    if (!fill(field_header_len)) {
        return Got::broke;
    }
    int32_t size = 0;
    if (!is_type_tag(buf_[start_]) || !field_size(buf_ + start_, size)) {
        return Got::malformed;
    }
    if (!fill(static_cast<std::size_t>(size))) {
        return Got::broke;
    }
    if (!decode_whole(std::string_view(buf_ + start_, static_cast<std::size_t>(size)), out)) {
        return Got::malformed;
    }
    start_ += static_cast<std::size_t>(size);
    len_ -= static_cast<std::size_t>(size);
    return Got::field;
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

}  // namespace razivu_tool::serve
