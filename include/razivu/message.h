/*
 * The message layer: calls and replies as sequences of typed fields.
 *
 * A field is a type tag, a five-character length slot, "|", the data and
 * "|" again. Packers append fields to a 1000-byte buffer that is sent
 * through the send slot whenever the next field would not fit; decoders read
 * one field each straight from the receive slot with exact-count reads.
 * One buffer, cursor and transport per process; one thread at a time.
 */
#ifndef RAZIVU_MESSAGE_H
#define RAZIVU_MESSAGE_H

#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

/* Capacity of the message buffer. */
#define RAZIVU_MESSAGE_CAP 1000

/* A transport function: moves count bytes for socket, returns the count moved or -1. */
typedef int32_t (*RazivuTransportFn)(int32_t socket, char *buffer, int32_t count);

RAZIVU_API void ResetBuffer(void);
RAZIVU_API void SendBuffer(void);
/* A null function leaves its slot as it was; the socket is always replaced. */
RAZIVU_API void SetTransport(RazivuTransportFn send, RazivuTransportFn receive, int32_t socket);
RAZIVU_API void SetSocket(int32_t socket);
RAZIVU_API void ClearSocket(void);
RAZIVU_API int32_t GetSocket(void);

/* Packers: 0 when the field was packed, -1 (and error 62 pushed) for a value
 * the wire format cannot carry; the buffer is then left as it was. */
RAZIVU_API int32_t PackFunctionName(const char *name);
RAZIVU_API int32_t PackString(const char *text);
RAZIVU_API int32_t PackInteger(int32_t value);
RAZIVU_API int32_t PackBoolean(int32_t value);
RAZIVU_API int32_t PackReturnCode(int32_t code);
RAZIVU_API int32_t PackByteArray(const char *bytes, int32_t count);

/* Decoders: 0, or -1 with errors pushed. Strings and byte arrays are new
 * blocks that the caller releases with UnpackFree. */
RAZIVU_API int32_t UnpackString(char **text);
RAZIVU_API int32_t UnpackBoolean(int32_t *value);
RAZIVU_API int32_t UnpackInteger(int32_t *value);
RAZIVU_API int32_t UnpackFunctionName(char **name);
RAZIVU_API int32_t UnpackReturnCode(int32_t *code);
RAZIVU_API int32_t UnpackByteArray(char **bytes, int32_t *count);
RAZIVU_API int32_t UnpackFree(void *block);

RAZIVU_END_DECLS

#endif
