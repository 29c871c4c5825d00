/* The greeter's functions as a module: razivu serve --module ./libc_module.so */
#include <razivu/razivu.h>

#include "greeter.h"

RAZIVU_MODULE_EXPORT int32_t razivu_module_call(const char *function);
RAZIVU_MODULE_EXPORT int32_t razivu_module_init(void);

int32_t razivu_module_call(const char *function) {
    return greeter_call(function);
}

/* Runs once before the server starts; non-zero would refuse the start. */
int32_t razivu_module_init(void) {
    return 0;
}
