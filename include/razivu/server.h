/*
 * The server: a program's own functions served over TCP to old clients,
 * with every protection of `razivu serve`.
 *
 *   static int32_t dispatch(const char *function, void *user_data) {
 *       int32_t a, b;
 *       if (strcmp(function, "Add") != 0)
 *           return RAZIVU_E_NO_FUNCTION;           // the server answers r 61
 *       if (UnpackInteger(&a) != 0 || UnpackInteger(&b) != 0)
 *           return -1;                              // the connection ends
 *       ResetBuffer();
 *       PackReturnCode(RAZIVU_OK);
 *       PackInteger(a + b);
 *       SendBuffer();
 *       return 0;
 *   }
 *
 *   int main(void) {
 *       RazivuServer *server = razivu_server_new();
 *       razivu_server_set_number(server, RAZIVU_SERVER_PORT, 7000);
 *       int32_t rc = razivu_server_run(server, dispatch, NULL);
 *       razivu_server_free(server);
 *       return rc == RAZIVU_SERVER_OK ? 0 : 1;
 *   }
 *
 * Each connection is served by a worker process of its own: on Linux a fork
 * of the process that called razivu_server_run, on Windows the program
 * itself started again (see "Windows" below). In the worker the handler is
 * called once per call, with the function name already read; it decodes the
 * arguments with the Unpack functions, calls ResetBuffer, packs its reply
 * with the Pack functions and sends it with SendBuffer, exactly as an old
 * server's dispatch does, and returns:
 *   0                     it answered;
 *   RAZIVU_E_NO_FUNCTION  it does not know the function: the server answers
 *                         r 61 in its place and skips the call's arguments;
 *   anything else         the call failed: the server closes the connection
 *                         (what the reply had not yet sent stays unsent), and
 *                         its line and log say so with the newest record of
 *                         the error stack. So does a return of 0 without a
 *                         reply.
 * A reply may be sent in several SendBuffer calls; it leaves as soon as the
 * client has nothing more waiting. The decoders read the call's arguments
 * only: where the next call begins, the client closes its sending side or
 * has sent nothing for half a second, a decoder finds no more data and
 * fails; razivu_server_next_argument looks at what comes first. Arguments
 * the handler leaves unread are skipped. The call limit runs from the call's
 * first byte until the handler returns: a handler that takes longer has its
 * connection cut. While the handler runs, its pushes onto the error stack
 * are kept out of the error log (the server logs what its clients cause
 * within a bound of its own); the stack is emptied before each call. The
 * server has set the transport (SetTransport) to its own functions: a
 * handler must not change it, nor read or write the connection itself.
 *
 * Process-wide settings (all put back when razivu_server_run returns): on
 * Linux the dispositions of SIGINT and SIGTERM (a first one stops the server
 * gracefully, a second at once), SIGCHLD (workers are reaped at once; only
 * the server's own children are reaped) and SIGPIPE (ignored), and the
 * signal mask of the calling thread, which blocks SIGINT, SIGTERM, SIGCHLD
 * and SIGUSR1 except while the server waits; the soft limit of open files,
 * raised for the connections waiting for a worker; in a worker, SIGUSR1
 * (the listening process's nudge), SIGALRM with the real-time interval timer
 * (the call limit), SIGINT and SIGTERM. On Windows the C run-time's handlers
 * of SIGINT, SIGBREAK and SIGTERM, a WinSock session, the environment
 * variable RAZIVU_SERVE_WORKER (set while workers are started) and in a
 * worker a timer-queue timer and a thread that waits for nudges. One server
 * runs in a process at a time. Standard output gets a line when the server
 * listens and when it stops; standard error one line per connection.
 *
 * Windows: a worker is the program started again with the same command
 * line, and its main must reach razivu_server_run again with the same
 * handler: razivu_server_run recognises that it runs in a worker, ignores
 * the options of where to listen, serves the connection the listening
 * process handed over and returns RAZIVU_SERVER_OK; main should then end
 * as it does after a stop. Before razivu_server_run, main must not read
 * standard input (the connection comes through it) and should do no work
 * that must happen once only.
 */
#ifndef RAZIVU_SERVER_H
#define RAZIVU_SERVER_H

#include <razivu/export.h>

RAZIVU_BEGIN_DECLS

typedef struct RazivuServer RazivuServer;

/* Serves one call: see above. user_data is razivu_server_run's. */
typedef int32_t (*RazivuCallHandler)(const char *function, void *user_data);

/* Results. */
#define RAZIVU_SERVER_OK              0
#define RAZIVU_SERVER_E_OPTION        1 /* not an option of that setter, or a null server or handler */
#define RAZIVU_SERVER_E_VALUE         2 /* a value outside the option's range; nothing changed */
#define RAZIVU_SERVER_E_FAILED        3 /* cannot listen or serve; standard error says why */
#define RAZIVU_SERVER_E_NO_SERVICE    4 /* the service is not in the services database, and no port was set */
#define RAZIVU_SERVER_E_SOCKET_TWICE  5 /* a socket was passed in, and where to listen was set as well */
#define RAZIVU_SERVER_E_NO_SOCKET     6 /* no socket was passed in, and neither service nor port was set */
#define RAZIVU_SERVER_E_BUSY          7 /* a server runs in this process already */

/* Options of razivu_server_set_number. */
#define RAZIVU_SERVER_PORT         1 /* 0..65535; 0: a free port the system picks (razivu_server_port says
                                        which); with a service, the port used when the database lacks it */
#define RAZIVU_SERVER_BACKLOG      2 /* 1..65535 connections queued by the system (128) */
#define RAZIVU_SERVER_WORKERS      3 /* 1..1024 connections served at once (32) */
#define RAZIVU_SERVER_PER_ADDRESS  4 /* 1..1024 workers one client address may hold (a quarter of the
                                        workers); IPv6 clients count by their /64 */
#define RAZIVU_SERVER_CALL_MS      5 /* 1..INT32_MAX ms from a call's first byte to its reply (10000) */
#define RAZIVU_SERVER_IDLE_MS      6 /* 1..INT32_MAX ms of silence before and between calls (30000) */
#define RAZIVU_SERVER_QUIET        7 /* 1: lines only for connections that end in trouble (0) */
#define RAZIVU_SERVER_SOCKET_FROM  8 /* where a socket passed in comes from, below */
/* Options of razivu_server_set_text; the text is copied. */
#define RAZIVU_SERVER_SERVICE     21 /* a name of the services database to listen on */
#define RAZIVU_SERVER_BIND        22 /* a dotted IPv4 address to listen on (0.0.0.0, every interface) */
#define RAZIVU_SERVER_NAME        23 /* what the server's lines and log entries begin with ("razivu server") */

/* Values of RAZIVU_SERVER_SOCKET_FROM. The socket systemd passes
 * (LISTEN_FDS for this process) is always taken, without a port or service;
 * with inetd, standard input is the socket: listening (inetd's wait) or one
 * accepted connection (nowait), served in this process. */
#define RAZIVU_SERVER_FROM_SYSTEMD 0
#define RAZIVU_SERVER_FROM_INETD   1

/* A server with every option at its default; NULL without memory. */
RAZIVU_API RazivuServer *razivu_server_new(void);
/* Not while razivu_server_run runs with it. NULL is ignored. */
RAZIVU_API void razivu_server_free(RazivuServer *server);

RAZIVU_API int32_t razivu_server_set_number(RazivuServer *server, int32_t option, int32_t value);
/* NULL puts the option's default back. */
RAZIVU_API int32_t razivu_server_set_text(RazivuServer *server, int32_t option, const char *value);

/* Serves with handler until a stop: a SIGINT or SIGTERM (Ctrl-C on Windows)
 * or razivu_server_stop. RAZIVU_SERVER_OK after a stop (and in a worker
 * process on Windows, after its connection), or one of the errors above. */
RAZIVU_API int32_t razivu_server_run(RazivuServer *server, RazivuCallHandler handler, void *user_data);

/* Asks the server to stop: the first request lets the calls under way
 * finish, a second cuts them. May be called from another thread or a signal
 * handler; before razivu_server_run it makes the next run stop at once. */
RAZIVU_API int32_t razivu_server_stop(RazivuServer *server);

/* The port the server listens on, 0 while it does not. */
RAZIVU_API int32_t razivu_server_port(const RazivuServer *server);

/* How a module of `razivu serve --module` exports its razivu_module_call and
 * razivu_module_init (the handler's contract without user_data; see the
 * tool's documentation). */
#if defined(_WIN32)
#  define RAZIVU_MODULE_EXPORT __declspec(dllexport)
#else
#  define RAZIVU_MODULE_EXPORT __attribute__((visibility("default")))
#endif

/* In a handler: the type tag of the call's next argument ('s', 'i', 'b', 'a'
 * or 'r'), waiting for it as a decoder would; 0 when the call has no more;
 * -1 outside a handler, or when the connection failed or what came is not a
 * field (the connection then ends after the call). */
RAZIVU_API int32_t razivu_server_next_argument(void);

RAZIVU_END_DECLS

#endif
