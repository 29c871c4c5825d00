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

// ---- System queries -------------------------------------------------------------
//
// Registry, drive, disk, screen and version facts, asked afresh at every call.
// posix/ answers them from the live machine (registry.cpp, drive_type.cpp,
// disk_free.cpp, screen_x11.cpp, os_version.cpp); win32/sysquery.cpp asks Windows.

// Drive types, numbered as GetDriveTypeA numbers them.
constexpr int32_t drive_unknown = 0;      // the type cannot be determined
constexpr int32_t drive_no_root_dir = 1;  // nothing is there
constexpr int32_t drive_removable = 2;
constexpr int32_t drive_fixed = 3;
constexpr int32_t drive_remote = 4;
constexpr int32_t drive_cdrom = 5;
constexpr int32_t drive_ramdisk = 6;

// True when HKEY_LOCAL_MACHINE\<subkey> (backslash-separated, e.g.
// "SOFTWARE\\X") can be opened; every failure reads as false.
bool registry_key_exists(const char *subkey);

// GetDriveTypeA of a root such as "C:\" or "C:" (or a host path on Linux).
int32_t drive_type(const char *root);

// What GetDiskFreeSpaceA tells about a root. The cluster counts are wider
// than Windows' so that no stand-in has to cut a large disk's counts.
struct disk_space {
    uint32_t sectors_per_cluster;
    uint32_t bytes_per_sector;
    uint64_t free_clusters;   // clusters the caller may still fill
    uint64_t total_clusters;
};
// false when the root cannot be asked; *out is then unspecified.
bool disk_free(const char *root, disk_space *out);

// The primary screen's size in pixels (GetSystemMetrics SM_CXSCREEN, then
// SM_CYSCREEN), read over one connection to the display; 0 for what cannot be
// read. A width of 0 leaves the height unasked, at 0.
void screen_size(int32_t *width_out, int32_t *height_out);

// Platform ids of OSVERSIONINFOA, and the one a non-Windows host reports.
constexpr int32_t platform_win32s = 0;
constexpr int32_t platform_win32_windows = 1;
constexpr int32_t platform_win32_nt = 2;
constexpr int32_t platform_not_windows = -1;
// Capacity of the host's own platform name, terminator included.
constexpr std::size_t os_name_cap = 65;

struct os_version_info {
    int32_t major;
    int32_t minor;
    int32_t platform_id;    // one of the ids above, or another Windows one
    char name[os_name_cap];  // the host's name for itself; "" on Windows
};
// GetVersionExA (record size 148) on Windows, uname on Linux. false when the
// version cannot be read.
bool os_version(os_version_info *out);

}  // namespace razivu::platform
