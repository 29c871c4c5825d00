/*
 * Diagnostics: the error stack with its error-text table, and the debug trace.
 *
 * Every failing RPC operation pushes one or more records onto a process-wide
 * ring of the 30 most recent errors; each push is also appended to the error
 * log "errstack.txt". The trace is switched on by naming a file in
 * RAZIVU_DEBUG or through COMSetTraceFile; after every trace line the whole
 * error stack is printed into the trace file, which empties it.
 *
 * None of these functions is safe to call from two threads at once.
 */
#ifndef RAZIVU_DIAGNOSTICS_H
#define RAZIVU_DIAGNOSTICS_H

#include <stdio.h>
#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

/* Error kinds of a record. */
#define RAZIVU_KIND_SYSTEM  1 /* code is the C library's errno */
#define RAZIVU_KIND_LIBRARY 3 /* code is one of the error codes below */
#define RAZIVU_KIND_UNKNOWN 4

/* Pushed by COMConnectToServerSock when the host cannot be resolved. It has
 * no row in the error-text table, so its text is "No error text available.",
 * as old callers know it. */
#define RAZIVU_E_UNKNOWN_HOST        1

/* Error codes with a row in the error-text table. */
#define RAZIVU_OK                   10
#define RAZIVU_E_FAILED             11
#define RAZIVU_E_STACK_EMPTY        12
#define RAZIVU_E_NOTHING_RECEIVED   13
#define RAZIVU_E_RECEIVE            14
#define RAZIVU_E_NOTHING_SENT       15
#define RAZIVU_E_SEND               16
#define RAZIVU_E_HOST_NOT_FOUND     17
#define RAZIVU_E_SERVICE_NOT_FOUND  18
#define RAZIVU_E_OPEN_SOCKET        19
#define RAZIVU_E_NOT_SUPPORTED      20
#define RAZIVU_E_TOO_SMALL          21
#define RAZIVU_E_TOO_LONG           22
#define RAZIVU_E_NEGATIVE_TIME      26
#define RAZIVU_E_NO_SERVICE_ENTRY   28
#define RAZIVU_E_NO_MEMORY          32
#define RAZIVU_E_INIT_TWICE         33
#define RAZIVU_E_CREATE_SOCKET      35
#define RAZIVU_E_IOCTL              38
#define RAZIVU_E_OPEN_DEVICE        39
#define RAZIVU_E_WSA_STARTUP        49
#define RAZIVU_E_NO_LISTEN_SOCKET   52
#define RAZIVU_E_SOCKET_IO          53
#define RAZIVU_E_TRANSFER           54
#define RAZIVU_E_INVALID_SOCKET     55
#define RAZIVU_E_TIMEOUT            56
#define RAZIVU_E_LOAD_WINSOCK       57
#define RAZIVU_E_DISCONNECT         58
#define RAZIVU_E_CONNECT            59
#define RAZIVU_E_REMOTE_RECEIVE     60
#define RAZIVU_E_NO_FUNCTION        61
#define RAZIVU_E_PACK               62
#define RAZIVU_E_UNPACK             63

/* Capacity of a record's text, terminator included. */
#define RAZIVU_ERROR_TEXT_CAP 100
/* Number of records the error stack keeps. */
#define RAZIVU_ERROR_STACK_DEPTH 30

/*
 * One record of the error stack. COMPopError fills kind, code and text; text
 * then refers to the stack's own slot and stays readable until a later push
 * reuses that slot.
 */
typedef struct ErrorRecord {
    int32_t in_use;
    int32_t kind;
    int32_t code;
    char *text;
} ErrorRecord;

/* Pushes a record of the library kind with the given error code. */
RAZIVU_API void COMPushError(const char *function, int32_t code);
/* Pushes a record of the system kind with errno as it is at the call. */
RAZIVU_API void COMPushSysError(const char *function);
/* The push behind both: kind 1 system, 3 library, anything else unknown. */
RAZIVU_API void COMPushErrorOfKind(const char *function, int32_t kind);
/* Pops the newest record and returns its text; NULL when the stack is empty. */
RAZIVU_API char *COMGetLastErrorText(void);
/* Pops the newest record into *record and returns 1; 0 when empty. */
RAZIVU_API int32_t COMPopError(ErrorRecord *record);
RAZIVU_API int32_t COMErrorStackIsEmpty(void);
/* Prints and empties the stack; NULL prints to the trace file, if any. */
RAZIVU_API void COMPrintErrorStack(FILE *stream);
/* The table text of (code, kind); never NULL. */
RAZIVU_API const char *COMLookupErrorText(int32_t code, int32_t kind);
RAZIVU_API void COMInitErrorStack(void);
/* "KQ-DX Version G.03.01" */
RAZIVU_API const char *GetVersionString(void);

/* Debug trace. */
RAZIVU_API void COMSetTraceFile(const char *path);
RAZIVU_API FILE *COMGetTraceFile(void);
RAZIVU_API void COMInitTrace(void);
RAZIVU_API void COMWriteTraceLine(const char *text);
RAZIVU_API void COMDebugTrace(const char *format, ...) RAZIVU_PRINTF(1, 2);
RAZIVU_API void COMTrace(const char *format, ...) RAZIVU_PRINTF(1, 2);
RAZIVU_API void COMDebugPrintf(const char *format, ...) RAZIVU_PRINTF(1, 2);

/* Line logging, switched on by COMLOGGING=ON (or on), read once per process. */
RAZIVU_API void COMCheckLogging(void);
RAZIVU_API void COMLogLine(const char *path, const char *format, ...) RAZIVU_PRINTF(2, 3);

RAZIVU_END_DECLS

#endif
