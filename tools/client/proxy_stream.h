// One direction of a connection that `razivu proxy` relays, decoded from a
// copy of the bytes as they pass. The bytes themselves are relayed untouched
// elsewhere; this only watches them. At most one unfinished field is held.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/fields.h"

namespace razivu_tool {

class FieldStream {
public:
    struct Decoded {
        uint64_t offset;  // of the field's first byte in this direction
        Field field;
    };
    // Takes the next bytes and returns the fields they complete.
    std::vector<Decoded> take(std::string_view bytes);
    // The sender closed: bytes still held are an unfinished field.
    void finish();
    // Empty while the bytes are fields; otherwise why decoding stopped at
    // the first byte that is not part of one. It does not resume: what
    // follows cannot be told apart from field data.
    const std::string &problem() const { return problem_; }
    // Bytes taken in all.
    uint64_t bytes() const { return total_; }

private:
    void stop(std::string problem);

    std::string pending_;      // taken, not yet part of a decoded field
    uint64_t pending_at_ = 0;  // offset of pending_[0]
    uint64_t total_ = 0;
    std::string problem_;
};

}  // namespace razivu_tool
