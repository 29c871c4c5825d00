#include "client/proxy_stream.h"

#include <algorithm>
#include <cstring>

#include <razivu/razivu.h>

#include "client/errors.h"

namespace razivu_tool {

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
        Field f;
        std::size_t taken = 0;
        if (read_field(std::string_view(pending_.data(), static_cast<std::size_t>(size)), f, taken) !=
            ReadResult::field) {
            stop(no_field_at(pending_at_, pending_));
            break;
        }
        out.push_back(Decoded{pending_at_, f});
        pending_.erase(0, taken);
        pending_at_ += taken;
    }
    return out;
}

}  // namespace razivu_tool
