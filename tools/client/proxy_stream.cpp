#include "client/proxy_stream.h"

#include <algorithm>
#include <cstring>

#include <razivu/razivu.h>

#include "client/errors.h"

namespace razivu_tool {
namespace {

// Process-wide: the bytes of one complete field, read by the decoders
// through memory_receive.
struct Memory {
    const char *data = nullptr;
    std::size_t len = 0;
    std::size_t pos = 0;  // next byte to hand out
};
Memory memory;

int32_t memory_receive(int32_t, char *buffer, int32_t count) {
    const std::size_t n =
        std::min(memory.len - memory.pos, static_cast<std::size_t>(std::max(count, 0)));
    std::memcpy(buffer, memory.data + memory.pos, n);
    memory.pos += n;
    return static_cast<int32_t>(n);
}

}  // namespace

void FieldStream::stop(std::string problem) {
    problem_ = std::move(problem);
    pending_.clear();
}

void FieldStream::finish() {
    if (problem_.empty() && !pending_.empty()) {
        stop("the bytes end inside the field at byte " + std::to_string(pending_at_));
    }
}

std::vector<FieldStream::Decoded> FieldStream::take(std::string_view bytes) {
    total_ += bytes.size();
    std::vector<Decoded> out;
    if (!problem_.empty()) {
        return out;
    }
    pending_.append(bytes);
    int32_t size = 0;
    while (pending_.size() >= field_header_len) {
        if (!is_type_tag(pending_[0])) {
            stop(no_field_at(pending_at_, pending_));
            break;
        }
        if (!field_size(pending_.data(), size)) {
            stop(no_field_at(pending_at_, pending_, "no separator after the length"));
            break;
        }
        if (pending_.size() < static_cast<std::size_t>(size)) {
            break;  // the rest of the field is still on its way
        }
        memory = Memory{pending_.data(), static_cast<std::size_t>(size), 0};
        Field f;
        if (read_field(memory_receive, -1, f) != ReadResult::field) {
            stop(no_field_at(pending_at_, pending_));
            break;
        }
        out.push_back(Decoded{pending_at_, f});
        pending_.erase(0, memory.pos);
        pending_at_ += memory.pos;
    }
    return out;
}

}  // namespace razivu_tool
