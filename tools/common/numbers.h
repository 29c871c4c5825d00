// The one number parser of the tool: command-line arguments and options.
#pragma once

#include <cstdint>
#include <string>

namespace razivu_tool {

// TCP ports a user may name.
constexpr int64_t max_port = 65535;

// Reads all of text as a decimal integer from min to max. False for a null
// or empty text, anything after the digits, or a value out of range; out is
// then left as it was.
bool parse_integer(const char *text, int64_t min, int64_t max, int64_t &out);

// The same for an int32_t result.
bool parse_int32(const char *text, int32_t min, int32_t max, int32_t &out);

// Reads seconds written as decimal digits with at most three after a point
// ("2", "0.5", ".25") into milliseconds from 0 to max_ms. False otherwise;
// out is then left as it was.
bool parse_milliseconds(const char *text, int64_t max_ms, int64_t &out);
// Milliseconds as seconds, as parse_milliseconds reads them: "2", "0.5".
std::string seconds_text(int64_t ms);

}  // namespace razivu_tool
