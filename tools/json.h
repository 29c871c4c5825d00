// JSON output of the tool: strings from wire bytes.
#pragma once

#include <string>
#include <string_view>

namespace razivu_tool {

// A JSON string literal of bytes taken as Latin-1: each byte is one
// character, so any byte string gives valid UTF-8 JSON and maps back.
std::string json_string(std::string_view bytes);

}  // namespace razivu_tool
