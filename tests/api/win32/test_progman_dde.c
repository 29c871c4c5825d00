/* Program Manager groups against a "PROGMAN" DDE server of the test's own, a
 * second thread that records every execute transaction and refuses the one it
 * is told to. Wine's DDE needs a display (xvfb-run). */
#include <windows.h>
#include <ddeml.h>
#include <string.h>

#include "../check.h"
#include <razivu/progman.h>

#define MAX_RECORDED 4
#define RECORD_CAP 1100
#define NO_REFUSAL (-1)
#define READY_TIMEOUT_MS 10000

static struct {
    DWORD instance;                         /* the server's DDEML instance */
    HSZ service;                            /* "PROGMAN" */
    HANDLE ready;                           /* set once the service is registered */
    int n;                                  /* transactions recorded so far */
    char text[MAX_RECORDED][RECORD_CAP];    /* their data */
    DWORD len[MAX_RECORDED];                /* their data lengths */
    int refuse_at;                          /* transaction to refuse, or NO_REFUSAL */
} server;

static HDDEDATA CALLBACK serve(UINT type, UINT format, HCONV conv, HSZ topic, HSZ service,
                               HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
    (void)format; (void)conv; (void)data1; (void)data2;
    if (type == XTYP_CONNECT) {
        return (HDDEDATA)(INT_PTR)(DdeCmpStringHandles(topic, server.service) == 0 &&
                                   DdeCmpStringHandles(service, server.service) == 0);
    }
    if (type == XTYP_EXECUTE) {
        const int i = server.n++;
        if (i >= MAX_RECORDED) {
            return (HDDEDATA)(INT_PTR)DDE_FNOTPROCESSED;
        }
        server.len[i] = DdeGetData(data, (LPBYTE)server.text[i], RECORD_CAP - 1, 0);
        return (HDDEDATA)(INT_PTR)(i == server.refuse_at ? DDE_FNOTPROCESSED : DDE_FACK);
    }
    return NULL;
}

static DWORD WINAPI server_thread(LPVOID unused) {
    MSG msg;
    (void)unused;
    if (DdeInitializeA(&server.instance, serve, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS,
                       0) != DMLERR_NO_ERROR) {
        return 1;
    }
    server.service = DdeCreateStringHandleA(server.instance, "PROGMAN", CP_WINANSI);
    DdeNameService(server.instance, server.service, NULL, DNS_REGISTER);
    SetEvent(server.ready);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DdeNameService(server.instance, server.service, NULL, DNS_UNREGISTER);
    DdeFreeStringHandle(server.instance, server.service);
    DdeUninitialize(server.instance);
    return 0;
}

#define ED "C:\\KOV\\ED.EXE"

/* A command line of NULL stands for CreateProgramGroup; the items are all
 * named Editor. test_progman checks every AddItem form byte for byte; here
 * real DDE carries two of them, with their zero, and the refusals. */
static const struct {
    const char *command_line, *icon;
    int32_t index, x, y;
    int refuse_at;
    int32_t status;
    int n_sent;
    const char *add_item;
} cases[] = {
    {NULL, NULL, 0, 0, 0, NO_REFUSAL, 0, 1, NULL},
    {ED, NULL, 0, 0, 0, NO_REFUSAL, 0, 3, "[AddItem( " ED " , Editor )]"},
    {ED, "C:\\I.ICO", 0, 0, -7, NO_REFUSAL, 0, 3, "[AddItem( " ED " , Editor , C:\\I.ICO, 0, 0, -7 )]"},
    {NULL, NULL, 0, 0, 0, 0, RAZIVU_STATUS_DDE_COMMAND, 1, NULL},
    {ED, NULL, 0, 0, 0, 0, RAZIVU_STATUS_DDE_COMMAND, 1, NULL},
    {ED, NULL, 0, 0, 0, 1, 0, 3, "[AddItem( " ED " , Editor )]"},
    {ED, NULL, 0, 0, 0, 2, RAZIVU_STATUS_DDE_COMMAND, 3, "[AddItem( " ED " , Editor )]"},
};

int main(void) {
    DWORD thread_id = 0;
    HANDLE thread;
    size_t i;
    int k;
    server.ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    thread = CreateThread(NULL, 0, server_thread, NULL, 0, &thread_id);
    CHECK(thread != NULL && WaitForSingleObject(server.ready, READY_TIMEOUT_MS) == WAIT_OBJECT_0);
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const int create = cases[i].command_line == NULL;
        const char *sent[3] = {create ? "[CreateGroup(KOV)]" : "[ShowGroup(KOV,1)]",
                               "[ReplaceItem(Editor)]", cases[i].add_item};
        server.n = 0;
        server.refuse_at = cases[i].refuse_at;
        CHECK((create ? CreateProgramGroup()
                      : AddProgramItem(cases[i].command_line, "Editor", cases[i].icon,
                                       cases[i].index, cases[i].x, cases[i].y)) ==
              cases[i].status);
        CHECK(server.n == cases[i].n_sent);
        for (k = 0; k < cases[i].n_sent && k < server.n; ++k) {
            CHECK(server.len[k] == strlen(sent[k]) + 1);
            CHECK(strcmp(server.text[k], sent[k]) == 0);
        }
    }
    PostThreadMessageA(thread_id, WM_QUIT, 0, 0);
    CHECK(WaitForSingleObject(thread, READY_TIMEOUT_MS) == WAIT_OBJECT_0);
    return check_summary();
}
