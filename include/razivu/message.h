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

/*
 * Packers: 0 when the field was packed, -1 (and error 62 pushed under the
 * packer's name) for a value the wire format cannot carry; the buffer and its
 * cursor are then left as they were and nothing is sent. Refused are:
 * - texts and byte arrays of more than 991 bytes (a field and its terminator
 *   must fit the buffer), and a negative count with a non-null byte pointer;
 * - integers and booleans outside -999999..9999999 (seven characters);
 * - return codes outside -9999..99999 (the five characters of the slot; a
 *   negative code is written as a minus and four digits, e.g. "-0005");
 * - any field that needs the buffer flushed while no send function is set.
 * A null text or byte pointer is the null value (length -1), not an error.
 */
RAZIVU_API int32_t PackFunctionName(const char *name);
RAZIVU_API int32_t PackString(const char *text);
RAZIVU_API int32_t PackInteger(int32_t value);
RAZIVU_API int32_t PackBoolean(int32_t value);
RAZIVU_API int32_t PackReturnCode(int32_t code);
RAZIVU_API int32_t PackByteArray(const char *bytes, int32_t count);

/*
 * Decoders: 0, or -1 with errors pushed (the inner step's first, then the
 * decoder's own name, code 54). Strings and byte arrays are new blocks that
 * the caller releases with UnpackFree; a failed decoder leaves none behind.
 * A null output pointer is refused before anything is read.
 *
 * Each decoder reads the 7-byte header, then exactly the announced data and
 * the closing "|". A field with a length the decoder cannot hold is refused
 * after its header and before its data: a string, function name, byte array
 * or boolean longer than 999 bytes, an integer text longer than 7
 * characters, a negative length in an integer or function-name field, and a
 * boolean of length 0. Only the header has then been consumed: for a
 * negative length that is the whole field as the peer would write it, and
 * the connection stays in step; in every other case the data are still
 * unread and the connection is out of step, so the caller should close it.
 * The same holds after a wrong type tag (the data stay unread) and after a
 * failed read (part of a field may have been consumed).
 */
RAZIVU_API int32_t UnpackString(char **text);
RAZIVU_API int32_t UnpackBoolean(int32_t *value);
RAZIVU_API int32_t UnpackInteger(int32_t *value);
RAZIVU_API int32_t UnpackFunctionName(char **name);
RAZIVU_API int32_t UnpackReturnCode(int32_t *code);
RAZIVU_API int32_t UnpackByteArray(char **bytes, int32_t *count);
RAZIVU_API int32_t UnpackFree(void *block);

RAZIVU_END_DECLS

#endif
