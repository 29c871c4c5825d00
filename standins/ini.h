// Private profile (INI) text with the rules of GetPrivateProfileStringA and
// WritePrivateProfileStringA: case-blind section and key names without their
// blanks, trimmed lines, only the first section of a name counts, quotes
// around a value removed on read, CRLF line ends on write.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace razivu::standins::ini {

// The value of key in section, or nothing when either is missing.
std::optional<std::string> lookup(std::string_view text, std::string_view section,
                                  std::string_view key);

// The text after setting key in section to value; value nullptr deletes the
// key, key nullptr deletes the section. Lines not concerned keep their text.
// Nothing when a name or the value would not be written as itself: a line
// break or other control character anywhere (a tab inside is text), a key
// that is empty, holds "=" or begins with "[" or ";".
std::optional<std::string> update(std::string_view text, std::string_view section,
                                  const char *key, const char *value);

}  // namespace razivu::standins::ini
