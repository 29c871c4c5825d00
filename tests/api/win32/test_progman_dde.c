/* Program Manager groups against a "PROGMAN" DDE server of the test's own:
 * a second thread answers the library's conversations, records the data of
 * every execute transaction and refuses the one it is told to. The recorded
 * texts and lengths must be the library's commands with their terminating
 * zero; a refusal must give 1007. Wine's DDE needs a display (xvfb-run). */
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

enum { CREATE, ADD };

static const struct {
    int op;
    const char *command_line, *name, *icon;
    int32_t index, x, y;
    int refuse_at;
    int32_t status;
    const char *sent[3];
} cases[] = {
    {CREATE, NULL, NULL, NULL, 0, 0, 0, NO_REFUSAL, 0, {"[CreateGroup(KOV)]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", NULL, 0, 0, 0, NO_REFUSAL, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]", "[AddItem( C:\\KOV\\ED.EXE , Editor )]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", "C:\\KOV\\ED.ICO", 0, 0, 0, NO_REFUSAL, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]",
      "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.ICO )]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", "C:\\KOV\\ED.ICO", 2, 0, 0, NO_REFUSAL, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]",
      "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.ICO, 2 )]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", "C:\\KOV\\ED.ICO", 0, 0, -7, NO_REFUSAL, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]",
      "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.ICO, 0, 0, -7 )]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", NULL, 3, 0, 0, NO_REFUSAL, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]",
      "[AddItem( C:\\KOV\\ED.EXE , Editor , C:\\KOV\\ED.EXE, 3 )]"}},
    {CREATE, NULL, NULL, NULL, 0, 0, 0, 0, RAZIVU_STATUS_DDE_COMMAND, {"[CreateGroup(KOV)]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", NULL, 0, 0, 0, 0, RAZIVU_STATUS_DDE_COMMAND,
     {"[ShowGroup(KOV,1)]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", NULL, 0, 0, 0, 1, 0,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]", "[AddItem( C:\\KOV\\ED.EXE , Editor )]"}},
    {ADD, "C:\\KOV\\ED.EXE", "Editor", NULL, 0, 0, 0, 2, RAZIVU_STATUS_DDE_COMMAND,
     {"[ShowGroup(KOV,1)]", "[ReplaceItem(Editor)]", "[AddItem( C:\\KOV\\ED.EXE , Editor )]"}},
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
        int32_t status;
        int expected_n = 0;
        server.n = 0;
        server.refuse_at = cases[i].refuse_at;
        status = cases[i].op == CREATE
                     ? CreateProgramGroup()
                     : AddProgramItem(cases[i].command_line, cases[i].name, cases[i].icon,
                                      cases[i].index, cases[i].x, cases[i].y);
        CHECK(status == cases[i].status);
        while (expected_n < 3 && cases[i].sent[expected_n] != NULL) {
            ++expected_n;
        }
        CHECK(server.n == expected_n);
        for (k = 0; k < expected_n && k < server.n; ++k) {
            CHECK(server.len[k] == strlen(cases[i].sent[k]) + 1);
            CHECK(strcmp(server.text[k], cases[i].sent[k]) == 0);
        }
    }
    PostThreadMessageA(thread_id, WM_QUIT, 0, 0);
    CHECK(WaitForSingleObject(thread, READY_TIMEOUT_MS) == WAIT_OBJECT_0);
    return check_summary();
}
