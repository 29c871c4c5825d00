// What a client of `razivu serve` sends, read from its connection into a
// bounded buffer and taken one whole field at a time. A field reaches the
// library's decoder only when the decoder takes it (decode_whole), so that
// nothing a client sends makes the library write to the error log. One
// read usually brings a whole call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/fields.h"
#include "server/net.h"

namespace razivu_tool::serve {

class Inbox {
public:
    explicit Inbox(int32_t conn) : conn_(conn) {}
    // What the client sent that no field has taken yet, without waiting.
    net::Ready look() const;
    // The same, waiting up to ms for it.
    net::Ready wait(int32_t ms) const;

    enum class Got {
        field,      // out holds the next field
        malformed,  // the bytes are not a field
        broke,      // the connection ended or failed inside the field
    };
    // Reads the next field; waits for its bytes as long as they take.
    Got next(Field &out);
    // Reads and drops whatever the client still sends, until it closes or
    // ms pass: closing with unread bytes would reset the connection, and a
    // client would lose replies it has not read yet.
    void drain(int32_t ms);
    // Bytes received from the client.
    uint64_t bytes_in() const { return total_; }

private:
    // Room for the largest field (header, 999 bytes of data, separator) and
    // what follows it in the same read.
    static constexpr std::size_t cap = 4096;

    bool fill(std::size_t n);

    int32_t conn_;
    char buf_[cap] = {};
    std::size_t start_ = 0;  // first byte not taken
    std::size_t len_ = 0;    // bytes held from start_
    uint64_t total_ = 0;
};

}  // namespace razivu_tool::serve
