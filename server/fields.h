// The wire fields as the server reads them before any decoder does: a
// client's bytes are looked at one whole field at a time and checked the
// way the library's decoders check them, so that nothing a client sends
// reaches a decoder that would refuse it unless a handler asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rpc/message_internal.h"

namespace razivu::server::fields {

constexpr int32_t header_len = message::header_len;

// A type tag and the separator at the end: a header a decoder can read.
bool is_header(const char *header);
// The bytes a field with this header takes on the wire: the header alone for
// a return code, a null value or a length no decoder reads data for, else
// the header, the data and the closing separator (at most 1007).
int32_t size_of(const char *header);
// The name in a whole function-name field (size_of bytes), as
// UnpackFunctionName would decode it; false for a field it would refuse.
bool function_name(std::string_view field, std::string &name_out);

}  // namespace razivu::server::fields
