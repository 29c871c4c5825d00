/* The transport from a plain C program, linked against the shared library:
 * one process listens on 127.0.0.1, connects to itself, and carries the
 * worked-example Echo call and its reply over the connection with the
 * message layer, switching the transport socket between the two ends. */
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

static uint16_t port_used = 0;

static int32_t listen_somewhere(void) {
    int i;
    for (i = 0; i < PORT_TRIES; ++i) {
        const uint16_t port = (uint16_t)(FIRST_PORT + (rand() % 10000));
        int32_t s;
        COMSetDefaultPort((int16_t)PThtons(port));
        s = COMDoMakeListenSock();
        if (s != -1) {
            port_used = port;
            return s;
        }
    }
    return -1;
}

static void pack_echo(void) {
    const char bytes[] = {0, (char)0xFF};
    ResetBuffer();
    PackFunctionName("Echo");
    PackString("abc");
    PackString(NULL);
    PackInteger(42);
    PackBoolean(1);
    PackByteArray(bytes, 2);
    SendBuffer();
}

/* The server end: decodes the call and answers with code 10 and the integer. */
static void serve(int32_t conn) {
    char *name = NULL;
    char *text = NULL;
    char *none = NULL;
    char *bytes = NULL;
    int32_t number = 0;
    int32_t flag = 0;
    int32_t count = 0;
    SetTransport(COMSend, COMReceiveWithTimeout, conn);
    CHECK(UnpackFunctionName(&name) == 0 && strcmp(name, "Echo") == 0);
    CHECK(UnpackString(&text) == 0 && strcmp(text, "abc") == 0);
    CHECK(UnpackString(&none) == 0 && none == NULL);
    CHECK(UnpackInteger(&number) == 0 && number == 42);
    CHECK(UnpackBoolean(&flag) == 0 && flag == 1);
    CHECK(UnpackByteArray(&bytes, &count) == 0 && count == 2 && (unsigned char)bytes[1] == 0xFF);
    UnpackFree(name);
    UnpackFree(text);
    UnpackFree(bytes);
    ResetBuffer();
    PackReturnCode(RAZIVU_OK);
    PackInteger(number);
    SendBuffer();
}

static void echo_over_loopback(void) {
    int32_t listening;
    int32_t client;
    int32_t conn;
    int32_t code = 0;
    int32_t value = 0;
    char nothing[4];

    COMSetServiceName("razivu-api-test-no-such-service");
    CHECK(PTWSAStartup() == 0);
    listening = listen_somewhere();
    CHECK(listening != -1);
    if (listening == -1) {
        return;
    }
    client = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    CHECK(client != -1);
    conn = COMWaitForConnectingSock(listening);
    CHECK(conn != -1);
    if (client == -1 || conn == -1) {
        return;
    }
    CHECK(COMPollSock(conn, 0) == RAZIVU_POLL_TIMEOUT);
    CHECK(COMAsyncReadSock(conn, nothing, 4, 0) == 0);

    SetTransport(COMSend, COMReceive, client);
    pack_echo();
    CHECK(COMPollSock(conn, 5) == RAZIVU_POLL_READABLE);
    serve(conn);
    SetTransport(COMSend, COMReceive, client);
    ResetBuffer();
    CHECK(UnpackReturnCode(&code) == 0 && code == RAZIVU_OK);
    CHECK(UnpackInteger(&value) == 0 && value == 42);

    CHECK(COMCloseSock(client) == 0);
    CHECK(COMAsyncReadSock(conn, nothing, 4, 5) == -1); /* the peer has gone */
    CHECK(COMCloseSock(conn) == -1);                     /* closed by the transport already */
    CHECK(COMCloseSock(listening) == 0);
    CHECK(PTWSACleanup() == 0);
    while (COMGetLastErrorText() != NULL) {
    }
}

int main(void) {
    srand((unsigned)time(NULL));
    echo_over_loopback();
    printf("port %u\n", (unsigned)port_used);
    return check_summary();
}
