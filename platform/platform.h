// The one narrow interface between the library and the operating system.
//
// Subsystems reach files, directories, the clock, the environment and the
// Windows-only services through these functions only. posix/ implements
// them with Linux stand-ins (Windows-form paths mapped below RAZIVU_PREFIX,
// INI files parsed here); win32/ calls the real Win32 functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace razivu::platform {

// ---- Files and directories ------------------------------------------------

// Opens a file named by a Windows-form path (X:\...) or a host path, with a
// fopen mode. Returns nullptr with errno set when it cannot be opened.
std::FILE *open_file(const char *path, const char *mode);

// Creates one directory. Returns 0 when it was created, -1 when it was not
// (it exists already, or its parent is missing).
int32_t make_dir(const char *path);

// ---- The Windows directory ---------------------------------------------------

// GetWindowsDirectoryA: writes the directory (no trailing backslash) and
// returns its length; when cap is too small returns the size needed
// (terminator included) and writes nothing; returns 0 when it cannot be read.
int32_t windows_dir(char *buf, int32_t cap);

// Test seam: while set, windows_dir fails as if the directory were unreadable.
void set_windows_dir_unreadable(bool unreadable);

// ---- Private profile files -----------------------------------------------------

// GetPrivateProfileStringA with section and key given: copies the value, or
// def (trailing blanks cut) when the file, section or key is missing, cut to
// cap - 1 characters. Returns the number of characters copied.
int32_t profile_get(const char *section, const char *key, const char *def, char *buf,
                    int32_t cap, const char *file);

// WritePrivateProfileStringA: value nullptr deletes the key, key nullptr the
// whole section. Returns false when the file could not be written.
bool profile_put(const char *section, const char *key, const char *value, const char *file);

// ---- Clock -------------------------------------------------------------------------

// Calendar time in seconds.
std::time_t now();
// Local time of t; false when it cannot be determined.
bool local_time(std::time_t t, std::tm *out);
// Millisecond part (0 to 999) of the current time.
int32_t now_millis();
// The 24-character ctime text of t with its newline; false when t has none.
bool ctime_text(std::time_t t, char *buf, std::size_t cap);

// ---- Errors and environment -------------------------------------------------

int last_errno();
void set_errno(int err);
// The C library's message for an error number.
const char *errno_text(int err);
// The value of an environment variable, or nullptr.
const char *env(const char *name);

}  // namespace razivu::platform
