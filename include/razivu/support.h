/*
 * Status codes of the support library and the capacity of its path buffers.
 *
 * The operations of the support library (log files and profiles, fonts,
 * Program Manager groups, system queries) answer with these codes; they are a
 * family of their own, distinct from the RPC layer's error codes, and never
 * pushed onto the error stack.
 */
#ifndef RAZIVU_SUPPORT_H
#define RAZIVU_SUPPORT_H

#include <razivu/export.h>

#define RAZIVU_STATUS_OK                0
#define RAZIVU_STATUS_FAILED            1    /* missing argument or plain failure */
#define RAZIVU_STATUS_FIXED_UNKNOWN     1000 /* IsFixedDrive: type cannot be determined */
#define RAZIVU_STATUS_REMOTE_UNKNOWN    1001 /* IsRemoteDrive: the same */
#define RAZIVU_STATUS_CDROM_UNKNOWN     1002 /* IsCDROMDrive: the same */
#define RAZIVU_STATUS_REMOVABLE_UNKNOWN 1003 /* IsRemovableDrive: the same */
#define RAZIVU_STATUS_NO_FREE_SPACE     1004 /* GetDiskFreeKB: free space unreadable */
#define RAZIVU_STATUS_NO_WINDOWS_DIR    1005 /* GetWindowsDir: directory unreadable */
#define RAZIVU_STATUS_DDE_SETUP         1006 /* program groups: DDE set-up failed */
#define RAZIVU_STATUS_DDE_COMMAND       1007 /* program groups: a command not carried out */
#define RAZIVU_STATUS_NO_SCREEN         1008 /* GetScreenSize: width or height reads 0 */
#define RAZIVU_STATUS_NO_VERSION        1009 /* GetOSVersion: version unreadable */

/* Capacity of every path buffer, terminator included. */
#define RAZIVU_PATH_CAP 1024

#endif
