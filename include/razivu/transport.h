/*
 * The socket transport: the session start and end with their wrappers,
 * client connections by host and service name, exact-count reads and
 * writes, listening sockets, and polls and reads with a time-out.
 *
 * Socket handles are int32_t, -1 meaning failure. The caller owns every
 * socket it is given; an operation that fails on a socket closes it.
 */
#ifndef RAZIVU_TRANSPORT_H
#define RAZIVU_TRANSPORT_H

#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

struct servent;

/* Poll results of COMPollSock. */
#define RAZIVU_POLL_READABLE (-2)
#define RAZIVU_POLL_TIMEOUT  0
#define RAZIVU_POLL_FAILED   (-1)

/* Session and wrappers. */
RAZIVU_API int32_t PTWSAStartup(void);
RAZIVU_API int32_t PTWSACleanup(void);
RAZIVU_API int32_t PTWSAUnhookBlockingHook(void);
RAZIVU_API int32_t PTgethostname(char *name, int32_t len);
RAZIVU_API struct servent *PTgetservbyname(const char *name, const char *protocol);
RAZIVU_API uint32_t PThtonl(uint32_t value);
RAZIVU_API uint16_t PThtons(uint16_t value);
RAZIVU_API uint32_t PTntohl(uint32_t value);
RAZIVU_API uint16_t PTntohs(uint16_t value);
RAZIVU_API int32_t COMWSACleanup(void);
RAZIVU_API int32_t COMWSAUnhookBlockingHook(void);

/* Client side. Ports are in network byte order. */
RAZIVU_API void COMSetServiceName(const char *name);
RAZIVU_API char *COMGetServiceName(void);
RAZIVU_API void COMSetDefaultPort(int16_t port);
RAZIVU_API int16_t COMGetDefaultPort(void);
RAZIVU_API int16_t COMGetPortByName(const char *service, const char *protocol);
RAZIVU_API int32_t COMConnectToServerSock(const char *host, const char *service);
RAZIVU_API int32_t COMReadSock(int32_t socket, char *buffer, int32_t count, int32_t flags);
RAZIVU_API int32_t COMWriteSock(int32_t socket, char *buffer, int32_t count, int32_t flags);
RAZIVU_API int32_t COMCloseSock(int32_t socket);
RAZIVU_API int32_t COMSend(int32_t socket, char *buffer, int32_t count);
RAZIVU_API int32_t COMReceive(int32_t socket, char *buffer, int32_t count);

/*
 * Read-ahead, off by default. Switched on (on != 0), exact-count reads on the
 * socket are served from a buffer of its own that large reads fill, so a
 * call costs one system read instead of two per field; polls count buffered
 * bytes as readable. It reads past the end of a message: do not switch it on
 * for a socket that is handed to other code or another process afterwards.
 * Switched off, what is buffered is served first. RAZIVU_READAHEAD=1 in the
 * environment switches it on for every socket the library opens or accepts.
 * 0, or -1 with EBADF pushed for a handle that is not open.
 */
RAZIVU_API int32_t COMSetSockReadAhead(int32_t sock, int32_t on);
/* Bytes read ahead on sock and not yet served: a caller that also looks at the
 * socket itself (a peek for the peer's close) must count these as data.
 * -1 with EBADF pushed for a handle that is not open. */
RAZIVU_API int32_t COMGetSockReadAhead(int32_t sock);

/* Server side. */
RAZIVU_API int32_t COMDoMakeListenSock(void);
RAZIVU_API int32_t COMWaitForConnectingSock(int32_t listen_socket);
RAZIVU_API int32_t COMisValidSock(int32_t socket);
RAZIVU_API int32_t COMPollSock(int32_t socket, int32_t seconds);
RAZIVU_API int32_t COMAsyncReadSock(int32_t socket, char *buffer, int32_t count, int32_t seconds);
RAZIVU_API int32_t COMReceiveWithTimeout(int32_t socket, char *buffer, int32_t count);

RAZIVU_END_DECLS

#endif
