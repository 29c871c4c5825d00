// Bytes of the wire as the tool shows them: C escapes for a terminal,
// JSON escapes for --json.
#pragma once

#include <string>
#include <string_view>

namespace razivu_tool {

enum class Escapes {
    c,     // \n, \t, \xNN for what a terminal would not show
    json,  // \n, \t, \u00NN: each byte one Latin-1 character, so any bytes give valid UTF-8 JSON
};

// The bytes with backslashes (and, when quoted, double quotes) escaped and
// every byte the style does not show as it is written as an escape.
std::string escaped(std::string_view bytes, Escapes style, bool quoted);

// A JSON string literal of the bytes.
std::string json_string(std::string_view bytes);

}  // namespace razivu_tool
