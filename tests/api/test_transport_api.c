/* The transport from a plain C program, linked against the shared library:
 * one process listens on 127.0.0.1, connects to itself and carries an Echo
 * call and its reply with the message layer, switching the transport socket
 * between the two ends. The service is a port number, as docs/c-api.md's
 * client names it: nothing is looked up, and a call that succeeds leaves the
 * error stack empty. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "check.h"
#include <razivu/razivu.h>

/* Ports tried for the listening socket, from the dynamic range. */
#define FIRST_PORT 50000
#define PORT_TRIES 40

/* A port that is taken pushes why; those records are dropped. */
static int32_t listen_somewhere(void) {
    int32_t s = -1;
    int i;
    char port[8];
    ErrorRecord dropped;
    for (i = 0; i < PORT_TRIES && s == -1; ++i) {
        snprintf(port, sizeof port, "%d", FIRST_PORT + rand() % 10000);
        COMSetServiceName(port);
        s = COMDoMakeListenSock();
    }
    while (COMPopError(&dropped)) {
    }
    return s;
}

int main(void) {
    int32_t listening, client, conn, value = 0;
    char *name = NULL;
    srand((unsigned)time(NULL));
    listening = listen_somewhere();
    client = listening == -1 ? -1 : COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    conn = client == -1 ? -1 : COMWaitForConnectingSock(listening);
    CHECK(conn != -1);
    if (conn != -1) {
        SetTransport(COMSend, COMReceive, client);
        ResetBuffer();
        PackFunctionName("Echo");
        PackInteger(42);
        SendBuffer();
        CHECK(COMPollSock(conn, 5) == RAZIVU_POLL_READABLE);
        SetTransport(COMSend, COMReceiveWithTimeout, conn);
        CHECK(UnpackFunctionName(&name) == 0 && strcmp(name, "Echo") == 0);
        CHECK(UnpackInteger(&value) == 0 && value == 42);
        UnpackFree(name);
        ResetBuffer();
        PackReturnCode(RAZIVU_OK);
        PackInteger(value + 1);
        SendBuffer();
        SetTransport(COMSend, COMReceive, client);
        ResetBuffer();
        CHECK(UnpackReturnCode(&value) == 0 && value == RAZIVU_OK);
        CHECK(UnpackInteger(&value) == 0 && value == 43);
        CHECK(COMCloseSock(client) == 0 && COMCloseSock(conn) == 0);
        CHECK(COMErrorStackIsEmpty());
    }
    CHECK(COMCloseSock(listening) == 0);
    return check_summary();
}
