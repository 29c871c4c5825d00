/* The transport from a plain C program, linked against the shared library:
 * one process listens on 127.0.0.1, connects to itself and carries an Echo
 * call and its reply with the message layer, switching the transport socket
 * between the two ends. */
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

static int32_t listen_somewhere(void) {
    int32_t s = -1;
    int i;
    COMSetServiceName("razivu-api-test-no-such-service");
    for (i = 0; i < PORT_TRIES && s == -1; ++i) {
        COMSetDefaultPort((int16_t)PThtons((uint16_t)(FIRST_PORT + rand() % 10000)));
        s = COMDoMakeListenSock();
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
    }
    CHECK(COMCloseSock(listening) == 0);
    return check_summary();
}
