// Private profile files on Linux: INI text at the mapped path, read and
// rewritten with the rules of the INI engine (ini.h).
#pragma once

#include <string>

namespace razivu::standins {

// The value of key in section of the profile at path (Windows-form or host);
// false when the file, the section or the key is missing or unreadable.
bool profile_read(const std::string &path, const char *section, const char *key,
                  std::string &value_out);

// WritePrivateProfileStringA on the profile at path: value nullptr deletes
// the key, key nullptr the whole section. False when the file could not be
// read whole or written.
bool profile_write(const std::string &path, const char *section, const char *key,
                   const char *value);

}  // namespace razivu::standins
