/* The public interface from a plain C client, linked against the shared
 * library: the error stack, the trace and the log files as a caller sees them. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include <razivu/razivu.h>

/* A pop from an empty stack leaves the record alone; a null record pops nothing. */
static void error_stack_round_trip(void) {
    ErrorRecord rec;
    memset(&rec, 0, sizeof rec);
    CHECK(COMErrorStackIsEmpty() == 1);
    COMPushError("UnpackString", RAZIVU_E_TRANSFER);
    CHECK(COMPopError(NULL) == 0 && COMErrorStackIsEmpty() == 0);
    CHECK(COMPopError(&rec) == 1);
    CHECK(rec.kind == RAZIVU_KIND_LIBRARY && rec.code == 54);
    CHECK(strstr(rec.text, "function UnpackString:  Error while transfering data") != NULL);
    rec.in_use = 7;
    rec.code = 9;
    CHECK(COMPopError(&rec) == 0 && rec.in_use == 7 && rec.code == 9 && rec.kind == RAZIVU_KIND_LIBRARY);
    CHECK(COMGetLastErrorText() == NULL);
}

static void trace_prints_and_empties_the_stack(void) {
    const char *start = "> Bytes: 12\nPrint error stack:\nERR> 3, 11, ";
    char text[512] = "";
    FILE *f;
    COMSetTraceFile("c_api_trace.txt");
    CHECK(COMGetTraceFile() != NULL);
    COMPushError("COMReadSock", RAZIVU_E_FAILED);
    COMTrace("> Bytes: %d\n", 12);
    CHECK(COMErrorStackIsEmpty() == 1);
    COMSetTraceFile(NULL);
    CHECK(COMGetTraceFile() == NULL);
    f = fopen("c_api_trace.txt", "r");
    CHECK(f != NULL && fread(text, 1, sizeof text - 1, f) > 0);
    CHECK(strncmp(text, start, strlen(start)) == 0);
    if (f != NULL) {
        fclose(f);
    }
}

static void log_path_and_version(void) {
    char path[RAZIVU_PATH_CAP] = "";
    GetLogFilePath(GetVersionString(), "errstack.txt", path);
    CHECK(strcmp(path, "C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt") == 0);
    CHECK(strcmp(GetVersionString(), "KQ-DX Version G.03.01") == 0);
    CHECK(strcmp(COMLookupErrorText(10, RAZIVU_KIND_LIBRARY), "Call was successful.") == 0);
}

static void profile_round_trip(void) {
    char value[16];
    /* A bare file name lives in the Windows directory on every platform. */
    CHECK(ProfilePutString("razivu", "Key", "  value  ", "razivu_api.ini") == 0);
    ProfileGetString("RAZIVU", "key", "dflt", value, (int32_t)sizeof value, "razivu_api.ini");
    CHECK(strcmp(value, "value") == 0);
    ProfileGetString("razivu", "Key", "dflt", value, 4, "razivu_api.ini");
    CHECK(strcmp(value, "val") == 0);
    CHECK(ProfilePutString("razivu", "Key", NULL, "razivu_api.ini") == 0);
    ProfileGetString("razivu", "Key", "dflt", value, (int32_t)sizeof value, "razivu_api.ini");
    CHECK(strcmp(value, "dflt") == 0);
}

int main(void) {
    error_stack_round_trip();
    trace_prints_and_empties_the_stack();
    log_path_and_version();
    profile_round_trip();
    return check_summary();
}
