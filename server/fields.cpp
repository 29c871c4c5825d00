// A client's fields as the decoders would read them: see fields.h.
#include "server/fields.h"

#include <cstring>

namespace razivu::server::fields {
namespace {

namespace msg = razivu::message;

constexpr const char *tags = "#sibra";

int32_t slot_of(const char *header) {
    return msg::parse_slot(header + 1);
}

}  // namespace

bool is_header(const char *header) {
    return header[0] != '\0' && std::strchr(tags, header[0]) != nullptr && header[header_len - 1] == msg::separator;
}

int32_t size_of(const char *header) {
    const int32_t len = slot_of(header);
    const bool data_follow = header[0] != msg::tag_return && len >= 0 && len <= msg::max_body_len;
    return header_len + (data_follow ? len + 1 : 0);
}

// The decoder copies the text up to its first NUL.
bool function_name(std::string_view field, std::string &name_out) {
    if (field.size() < static_cast<std::size_t>(header_len) || field[0] != msg::tag_function ||
        !is_header(field.data())) {
        return false;
    }
    const int32_t len = slot_of(field.data());
    if (len < 0 || len > msg::max_body_len || field.size() != static_cast<std::size_t>(size_of(field.data())) ||
        field.back() != msg::separator) {
        return false;
    }
    const std::string_view data = field.substr(header_len, static_cast<std::size_t>(len));
    name_out.assign(data.substr(0, data.find('\0')));
    return true;
}

}  // namespace razivu::server::fields
