/*
 * Log files of the support library and the profile access they rest on.
 *
 * Log files live below the product's install base, read from
 * TARNEX_INSTALL_PATH in section "default" of "tarnex.ini" in the Windows
 * directory: <base>var\opt\TARNEX\<dro|kov>\log\<file>. Paths are Windows-form
 * texts; on Linux they are mapped below RAZIVU_PREFIX when a file is opened.
 */
#ifndef RAZIVU_LOGFILE_H
#define RAZIVU_LOGFILE_H

#include <razivu/export.h>
#include <razivu/support.h>

RAZIVU_BEGIN_DECLS

/* Log levels of WriteLog. */
#define RAZIVU_LOG_PLAIN   1
#define RAZIVU_LOG_ERROR   3
#define RAZIVU_LOG_WARNING 4

/*
 * Resolves the path of a log file into result (RAZIVU_PATH_CAP bytes); the
 * fourth character of module selects the subdirectory, a NULL file means
 * "error.txt". When no path can be opened, result keeps what it held (or the
 * preset of SetDefaultLogFilePath).
 */
RAZIVU_API void GetLogFilePath(const char *module, const char *file, char *result);
/*
 * The path at which the system opens path: on Linux a Windows-form path
 * ("C:\x\y") becomes <RAZIVU_PREFIX>/drive_c/x/y and any other path stays
 * as it is; on Windows every path stays as it is. Writes it into result
 * (size bytes, terminator included): 0, or 1 for a missing argument or a
 * path that does not fit (result untouched).
 */
RAZIVU_API int32_t GetHostPath(const char *path, char *result, int32_t size);
RAZIVU_API void WriteLog(const char *file, const char *module, int32_t level,
                         const char *format, ...) RAZIVU_PRINTF(4, 5);
RAZIVU_API void ResetLogFile(const char *module, const char *file);
RAZIVU_API void SetDefaultLogFilePath(const char *path);
/*
 * Sends every later log entry of the process, whatever file WriteLog names
 * (the error log of the error stack among them), to path instead: a file of
 * the program's own, so that a tool run beside a server neither empties nor
 * fills the server's log. The first entry of the process empties that file,
 * as any log file. "" (or a path of RAZIVU_PATH_CAP bytes or more) drops the
 * entries; NULL returns to the files below the install base. GetLogFilePath
 * and ResetLogFile follow it; while entries are dropped, GetLogFilePath gives
 * the empty text.
 */
RAZIVU_API void SetLogRedirect(const char *path);
/* "[dd.mm.yyy:hh.mm.ss mmm]" with years since 1900; NULL without local time. */
RAZIVU_API const char *GetLogTimestamp(void);

RAZIVU_API void GetProfileValue(const char *section, const char *key, char *result,
                                int32_t size);
RAZIVU_API int32_t CheckProfileFile(void);
/* Appends "\name" to path (a RAZIVU_PATH_CAP buffer) and creates that directory. */
RAZIVU_API int32_t AppendDirAndCreate(char *path, const char *name);
RAZIVU_API int32_t ProfileGetString(const char *section, const char *key,
                                    const char *default_value, char *result,
                                    int32_t size, const char *file);
RAZIVU_API int32_t ProfilePutString(const char *section, const char *key,
                                    const char *value, const char *file);
RAZIVU_API int32_t GetWindowsDir(char *buffer, int32_t size);

RAZIVU_END_DECLS

#endif
