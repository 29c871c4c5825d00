/* razivu.dll from many threads: each thread its own error stack and message
 * buffer, and what a thread used freed when it ends, so that threads started
 * and ended one after another leave the private bytes flat. */
#include <windows.h>
#include <psapi.h>
#include <stdint.h>

#include <razivu/razivu.h>

#include "../check.h"

#define THREADS 2000

static DWORD WINAPI push_and_pack(LPVOID arg) {
    const int32_t code = (int32_t)(intptr_t)arg;
    ErrorRecord rec;
    ResetBuffer();
    PackFunctionName("Echo");
    COMPushError("Churn", code);
    /* Only this thread's push is on its stack, whatever the others do. */
    return COMPopError(&rec) == 1 && rec.code == code && COMPopError(&rec) == 0 ? 0 : 1;
}

static SIZE_T private_bytes(void) {
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

static int run_threads(int n, int at_once) {
    HANDLE handles[8];
    int failed = 0, i, k;
    for (i = 0; i < n; i += at_once) {
        for (k = 0; k < at_once; ++k) {
            handles[k] = CreateThread(NULL, 0, push_and_pack, (LPVOID)(intptr_t)(100 + k), 0, NULL);
        }
        WaitForMultipleObjects((DWORD)at_once, handles, TRUE, INFINITE);
        for (k = 0; k < at_once; ++k) {
            DWORD status = 1;
            GetExitCodeThread(handles[k], &status);
            failed += status != 0;
            CloseHandle(handles[k]);
        }
    }
    return failed;
}

int main(void) {
    SIZE_T before;
    CHECK(run_threads(200, 8) == 0);
    before = private_bytes();
    CHECK(run_threads(THREADS, 8) == 0);
    CHECK(before != 0 && private_bytes() < before + 4 * 1024 * 1024);
    return check_summary();
}
