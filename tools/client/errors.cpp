#include "client/errors.h"

#include <algorithm>
#include <cstring>

#include <razivu/razivu.h>

#include "client/field_print.h"
#include "common/fields.h"

namespace razivu_tool {
namespace {

// Separates a record's function name from its cause.
constexpr const char *cause_separator = ":  ";

}  // namespace

LibraryError newest_error() {
    ErrorRecord rec{};
    if (COMPopError(&rec) == 0) {
        return {};
    }
    LibraryError out{true, rec.kind, rec.code, rec.text != nullptr ? rec.text : ""};
    drop_errors();
    return out;
}

std::string cause_of(const LibraryError &error) {
    if (!error.found) {
        return "no error recorded";
    }
    const std::size_t at = error.text.find(cause_separator);
    return at != std::string::npos ? error.text.substr(at + std::strlen(cause_separator))
                                   : error.text;
}

std::string no_field_at(uint64_t at, std::string_view header, const std::string &why) {
    const std::string_view head =
        header.substr(0, std::min<std::size_t>(header.size(), field_header_len));
    const bool tag = !head.empty() && is_type_tag(head[0]);
    const std::string cause = !why.empty() ? why
                              : tag        ? cause_of(newest_error())
                                           : "not a type tag";
    drop_errors();
    return "no field at byte " + std::to_string(at) + " (" + quoted(head) + "): " + cause;
}

}  // namespace razivu_tool
