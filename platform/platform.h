// The one narrow interface between the library and the operating system.
//
// Subsystems reach files, directories, the clock, the environment and the
// Windows-only services through these functions only. posix/ implements
// them, with the Linux stand-ins of the Windows services (standins/:
// Windows-form paths mapped below RAZIVU_PREFIX, INI files, fonts, Program
// Manager); win32/ calls the real Win32 functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/file_calls.h"

struct servent;

namespace razivu::platform {

// ---- Files and directories ------------------------------------------------
//
// Paths are Windows-form (X:\...) or host paths; the posix layer maps the
// former below RAZIVU_PREFIX. The file-call table (file_calls.h) holds the
// system's calls behind them.

// The path a file is opened at: Windows-form paths mapped below
// RAZIVU_PREFIX by posix/, every path unchanged on Windows.
std::string host_path(const char *path);

// Opens a file with a fopen mode; nullptr with errno set when it cannot be
// opened (EINVAL for a null path or mode).
std::FILE *open_file(const char *path, const char *mode);
// The same for "a" or "w" of a file in the library's own folders (the log
// files), which another user may have planted something at: a link at the
// name, a FIFO or a device is never written through, waited on or emptied
// (nullptr, errno ELOOP or EINVAL). Files the caller names (the trace file,
// COMLogLine's) are opened with open_file, as named.
std::FILE *open_own_file(const char *path, const char *mode);
// Opens a regular file for reading ("rb"), never waiting on a FIFO or
// device; nullptr with errno set otherwise (EINVAL: not a regular file).
std::FILE *open_regular_file(const char *path);
// Creates one directory: 0 when it was created, -1 when it was not.
int32_t make_dir(const char *path);
// Writes len bytes; false when not all of them could be written.
bool write_bytes(std::FILE *f, const char *data, std::size_t len);
// Writes a NUL-terminated text.
bool write_text(std::FILE *f, const char *text);
// Flushes and closes; false when either failed.
bool close_file(std::FILE *f);
// Opens path for appending as open_own_file does and writes len bytes with one write of the
// system's, so that entries appended by several processes at once never
// interleave. false when the file cannot be opened or written.
bool append_whole(const char *path, const char *data, std::size_t len);

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

// Calendar time in seconds, as the C library's time() reads it.
std::time_t now();
// Test seam: while set, now() reads clock instead of the system's; nullptr
// puts the system's back.
void set_clock(std::time_t (*clock)());
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
// posix/sysquery.cpp and posix/drives.cpp answer them from the live machine;
// win32/sysquery.cpp asks Windows.

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

// ---- Sockets -------------------------------------------------------------------------
//
// IPv4 TCP through BSD sockets (posix/net.cpp) or WinSock 1.1 (win32/net.cpp).
// Socket handles are the system's values as int32_t. Addresses and ports stay
// in network byte order. A call that fails returns -1 (nullptr for
// service_by_name) and leaves errno describing the failure -- win32 maps the
// WinSock error onto it -- so that COMPushSysError reports the system's text.

constexpr int32_t invalid_socket = -1;

// WSAGetLastError after a WSACleanup refused because a blocking call runs.
constexpr int32_t net_error_in_progress = 10036;

// An IPv4 endpoint; both fields in network byte order.
struct Ipv4Endpoint {
    uint32_t addr = 0;
    uint16_t port = 0;
};

enum class SocketOption {
    reuse_address,  // SO_REUSEADDR
    // TCP_NODELAY: segments leave without waiting for acknowledgements.
    // Switching it on also sends at once whatever the socket holds back.
    no_delay,
};

// The send flag that lets a piece wait in the socket for the rest of its
// message (MSG_MORE); 0 where the system has none.
int32_t more_flag();

// Identity of an open socket. On Linux its device and inode (fstat), which
// no other open file shares; on Windows, which has nothing like it for a
// handle, the local and peer endpoints of the connection, which no two live
// connections share.
struct SocketIdentity {
    uint64_t first = 0;
    uint64_t second = 0;
    bool operator==(const SocketIdentity &) const = default;
};

// The system calls behind the socket functions. Tests replace entries to make
// a chosen call fail, return a short count or be interrupted, the way SQLite's
// system-call table does; reset_net_calls() puts the system's calls back.
struct NetCalls {
    int32_t (*startup)();               // WSAStartup(0x0101): 0 or its error code
    int32_t (*cleanup)();               // WSACleanup: 0, or -1 (see last_error)
    int32_t (*last_error)();            // WSAGetLastError
    int32_t (*unhook_blocking_hook)();  // WSAUnhookBlockingHook: 0 or -1
    int32_t (*host_name)(char *buf, int32_t cap);                         // gethostname
    ::servent *(*service_by_name)(const char *name, const char *protocol);  // getservbyname
    // The host's first IPv4 address through the resolver: 0, or -1 when not found.
    int32_t (*host_address)(const char *name, uint32_t *addr_out);
    int32_t (*open_tcp)();  // socket(AF_INET, SOCK_STREAM, 0)
    int32_t (*connect)(int32_t s, const Ipv4Endpoint *to);
    int32_t (*local_endpoint)(int32_t s, Ipv4Endpoint *out);  // getsockname
    int32_t (*set_option)(int32_t s, SocketOption option, int32_t value);
    int32_t (*bind)(int32_t s, const Ipv4Endpoint *at);
    int32_t (*listen)(int32_t s, int32_t backlog);
    int32_t (*accept)(int32_t s);  // the peer's address is not kept
    int32_t (*recv)(int32_t s, char *buf, int32_t n, int32_t flags);
    // Never raises SIGPIPE: a vanished peer is an error result like any other.
    int32_t (*send)(int32_t s, const char *buf, int32_t n, int32_t flags);
    // select() for reading on one socket for whole seconds: >0 readable, 0
    // time-out, -1 failure (errno EINTR when a signal interrupted it).
    int32_t (*wait_readable)(int32_t s, int32_t seconds);
    int32_t (*close)(int32_t s);  // closesocket
    // What tells an open socket from one that earlier had the same number:
    // 0, or -1 when s is not an open socket (errno EBADF, or ENOTSOCK for a
    // file of another kind).
    int32_t (*identity)(int32_t s, SocketIdentity *out);
};

// The port of a service entry, in network byte order as the entry holds it.
uint16_t service_port(const ::servent *entry);

// The calls in use.
NetCalls &net_calls();
// Restores the system's calls.
void reset_net_calls();

// htonl, htons, ntohl, ntohs.
uint32_t host_to_net32(uint32_t v);
uint16_t host_to_net16(uint16_t v);
uint32_t net_to_host32(uint32_t v);
uint16_t net_to_host16(uint16_t v);

// ---- Fonts ---------------------------------------------------------------------------
//
// The services behind font installation: the LZ expansion copy, the system
// font table and its change broadcast, section "fonts" of the system profile
// (WIN.INI), and the platform's own upper-casing. posix/fonts.cpp stands in
// with libmspack, fontconfig and WIN.INI in the Windows directory; win32/fonts.cpp
// calls LZOpenFileA, AddFontResourceA, Get/WriteProfileString and SendMessageA.

// Copies source into a new file beside target, expanding an SZDD (LZ) file;
// other files are copied unchanged. The copy is made exclusively under a name
// no other file has, flushed to disk, and its path left in staged_out. false,
// with no copy left, when the source is not a regular file or cannot be read,
// its compressed data ends early, or the copy cannot be made or written.
bool stage_copy(const char *source, const char *target, std::string &staged_out);

// Renames from over to, replacing a file there in one step (MoveFileExA).
bool replace_file(const char *from, const char *to);

// Deletes a file; false when there was none or it stays.
bool remove_file(const char *path);

// Adds an installed font file to the font table (AddFontResourceA); false
// when the table did not take it.
bool font_table_add(const char *path);

// Tells the running programs that the font table changed (WM_FONTCHANGE).
void broadcast_font_change();

// Section "fonts" of the system profile (GetProfileStringW and
// WriteProfileStringW). get copies the value of key or "" (cut to cap - 1)
// and returns its length; put with value nullptr deletes the key and returns
// false when the profile could not be written.
int32_t fonts_profile_get_w(const char16_t *key, char16_t *buf, int32_t cap);
bool fonts_profile_put_w(const char16_t *key, const char16_t *value);

// Upper-cases len bytes of text in place as CharUpperBuffA does (ASCII letters
// only on Linux, where names are UTF-8).
void upper_case(char *text, std::size_t len);

// The file-name text as UTF-16 (mbstowcs on Windows, UTF-8 on Linux) into
// out, terminator included; false when it is not valid or does not fit.
bool narrow_to_utf16(const char *text, char16_t *out, std::size_t cap);

// ---- Program Manager over DDE --------------------------------------------------
//
// The DDEML client calls that carry Program Manager commands. win32/dde.cpp
// calls Windows; posix/dde.cpp answers "PROGMAN" with the stand-in
// that keeps freedesktop menu files. Handles are the system's values as
// pointers; an instance is the DWORD id DdeInitializeA hands out.

// The calling convention DDEML calls its callbacks with.
#if defined(_WIN32)
#define RAZIVU_DDE_CALLBACK_CONV __stdcall
#else
#define RAZIVU_DDE_CALLBACK_CONV
#endif

using DdeCallback = void *(RAZIVU_DDE_CALLBACK_CONV *)(uint32_t type, uint32_t format,
                                                      void *conversation, void *string1,
                                                      void *string2, void *data,
                                                      uintptr_t data1, uintptr_t data2);

constexpr uint32_t dde_client_only = 0x10;     // APPCMD_CLIENTONLY
constexpr int32_t dde_code_page_ansi = 1004;   // CP_WINANSI
constexpr uint32_t dde_format_text = 1;        // CF_TEXT
constexpr uint32_t dde_execute = 0x4050;       // XTYP_EXECUTE
constexpr uint32_t dde_ack = 0x8000;           // DDE_FACK: the server carried it out

// Replaceable like NetCalls: tests record what is sent and make a chosen
// call fail; reset_dde_calls() puts the system's calls back.
struct DdeCalls {
    // DdeInitializeA: 0 (DMLERR_NO_ERROR) or an error code; *instance_io in and out.
    uint32_t (*initialize)(uint32_t *instance_io, DdeCallback callback, uint32_t flags,
                           uint32_t reserved);
    void *(*create_string)(uint32_t instance, const char *text, int32_t code_page);
    // DdeConnect: the conversation, or nullptr when no server answers.
    void *(*connect)(uint32_t instance, void *service, void *topic, void *context);
    // DdeClientTransaction: data of len bytes; nullptr when it failed.
    void *(*transaction)(const char *data, uint32_t len, void *conversation, void *item,
                         uint32_t format, uint32_t type, uint32_t timeout_ms,
                         uint32_t *result_out);
    int32_t (*disconnect)(void *conversation);               // nonzero when done
    int32_t (*free_string)(uint32_t instance, void *string);  // nonzero when done
    int32_t (*uninitialize)(uint32_t instance);               // nonzero when done
};

// The calls in use.
DdeCalls &dde_calls();
// Restores the system's calls.
void reset_dde_calls();

}  // namespace razivu::platform
