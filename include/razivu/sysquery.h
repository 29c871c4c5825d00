/*
 * System queries of the support library: the product's registry key, drive
 * types, free disk space, screen size and operating-system version.
 *
 * Every operation except HasProductRegistryKey returns a status code of
 * logfile.h: 0 done, 1 a missing argument (or, for the drive queries, a path
 * that does not begin with a letter), or the operation's own code. Nothing is
 * pushed onto the error stack or logged.
 *
 * On Linux the answers come from the machine itself: the key is the folder
 * $RAZIVU_PREFIX/registry/HKEY_LOCAL_MACHINE/SOFTWARE/BRENVOLT, drive X: is
 * the folder $RAZIVU_PREFIX/drive_x, the screen is the X display that DISPLAY
 * names, and the version is the kernel's.
 */
#ifndef RAZIVU_SYSQUERY_H
#define RAZIVU_SYSQUERY_H

#include <razivu/export.h>
#include <razivu/logfile.h>

RAZIVU_BEGIN_DECLS

/* Smallest buffers GetOSVersion writes into, terminator included. */
#define RAZIVU_OS_VERSION_CAP  24
#define RAZIVU_OS_PLATFORM_CAP 22

/* 1 when the key SOFTWARE\BRENVOLT of HKEY_LOCAL_MACHINE can be opened, else 0. */
RAZIVU_API int32_t HasProductRegistryKey(void);

/*
 * Drive queries: the first three characters of path ("C:\", or "C:") name the
 * drive. *flag becomes 1 when the drive is of the operation's type, else 0.
 * A path that does not begin with a letter gives 1 and leaves *flag as it was;
 * a drive whose type cannot be determined gives the operation's code
 * (1000 to 1003) with *flag 0; a drive letter with nothing behind it is of no
 * type: 0 with *flag 0.
 */
RAZIVU_API int32_t IsFixedDrive(const char *path, int32_t *flag);
RAZIVU_API int32_t IsRemoteDrive(const char *path, int32_t *flag);
RAZIVU_API int32_t IsCDROMDrive(const char *path, int32_t *flag);
RAZIVU_API int32_t IsRemovableDrive(const char *path, int32_t *flag);

/*
 * Free space on the drive of path's first three characters, in units of 1000
 * bytes, rounded down. Space beyond 4294967295 units reads as 4294967295.
 * 1004 with *free_kb 0 when the space cannot be read.
 */
RAZIVU_API int32_t GetDiskFreeKB(const char *path, uint32_t *free_kb);

/* The primary screen's size in pixels; 1008 when the width or height reads
 * as 0 (no display), the height then left at 0. */
RAZIVU_API int32_t GetScreenSize(int32_t *width, int32_t *height);

/*
 * Writes "major.minor" into version (RAZIVU_OS_VERSION_CAP bytes) and the
 * platform's name into platform (RAZIVU_OS_PLATFORM_CAP bytes): "Windows 95",
 * "Windows NT" or "Win32s on Windows 3.1" on Windows, the system's own name
 * (uname, e.g. "Linux") elsewhere, cut to fit. An unknown Windows platform
 * leaves platform as it was. 1009, both buffers untouched, when the version
 * cannot be read.
 */
RAZIVU_API int32_t GetOSVersion(char *version, char *platform);

RAZIVU_END_DECLS

#endif
