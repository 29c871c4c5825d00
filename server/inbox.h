// What a client of the server sends, read from its connection into a
// bounded buffer and taken as the reader asks for it: whole fields by the
// server (fields.h), exact counts by a handler's decoders. One read usually
// brings a whole call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serving.h"

namespace razivu::server {

class Inbox {
public:
    // Room for the largest field (header, 999 bytes of data, separator) and
    // what follows it in the same read.
    static constexpr std::size_t cap = 4096;

    explicit Inbox(int32_t conn) : conn_(conn) {}
    // What the client sent that has not been taken yet, without waiting.
    platform::net::Ready look() const;
    // The same, waiting up to ms for it.
    platform::net::Ready wait(int32_t ms) const;
    // Waits up to ms for bytes beyond those held (or the end).
    platform::net::Ready wait_more(int32_t ms) const;

    // Holds at least n (at most cap) bytes, reading as long as they take;
    // false when the client closed or the connection failed first.
    bool have(std::size_t n);
    // One read of what the connection has, waiting for it; false at the end.
    bool read_more();
    // The bytes held, and how many.
    const char *front() const { return buf_ + start_; }
    std::size_t held() const { return len_; }
    // Drops n of the bytes held.
    void take(std::size_t n);

    // Reads and drops whatever the client still sends, until it closes or
    // ms pass: closing with unread bytes would reset the connection, and a
    // client would lose replies it has not read yet.
    void drain(int32_t ms);
    // Bytes received from the client.
    uint64_t bytes_in() const { return total_; }

private:
    int32_t conn_;
    char buf_[cap] = {};
    std::size_t start_ = 0;  // first byte not taken
    std::size_t len_ = 0;    // bytes held from start_
    uint64_t total_ = 0;
};

}  // namespace razivu::server
