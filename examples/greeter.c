/* Two functions written on the message API, as an old server's dispatch is. */
#include <stdio.h>
#include <string.h>

#include <razivu/razivu.h>

#include "greeter.h"

static int32_t reply_code(int32_t code) {
    ResetBuffer();
    PackReturnCode(code);
    SendBuffer();
    return 0;
}

static int32_t add(void) {
    int32_t a, b;
    if (razivu_server_next_argument() != 'i' || UnpackInteger(&a) != 0 ||
        razivu_server_next_argument() != 'i' || UnpackInteger(&b) != 0)
        return reply_code(RAZIVU_E_NOT_SUPPORTED);
    ResetBuffer();
    PackReturnCode(RAZIVU_OK);
    if (PackInteger(a + b) != 0) /* more than seven digits */
        return -1;
    SendBuffer();
    return 0;
}

static int32_t greet(void) {
    char *name = NULL;
    char text[RAZIVU_MESSAGE_CAP];
    if (razivu_server_next_argument() != 's' || UnpackString(&name) != 0)
        return reply_code(RAZIVU_E_NOT_SUPPORTED);
    snprintf(text, sizeof text, "Hello, %s", name != NULL ? name : "nobody");
    UnpackFree(name);
    ResetBuffer();
    PackReturnCode(RAZIVU_OK);
    if (PackString(text) != 0) /* too long for a field */
        return -1;
    SendBuffer();
    return 0;
}

int32_t greeter_call(const char *function) {
    if (strcmp(function, "Add") == 0)
        return add();
    if (strcmp(function, "Greet") == 0)
        return greet();
    return RAZIVU_E_NO_FUNCTION;
}
