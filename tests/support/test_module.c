/* Modules that `razivu serve --module` must refuse: one whose init fails,
 * saying why on the error stack, and, built with TEST_MODULE_WITHOUT_CALL,
 * one without razivu_module_call. */
#include <razivu/razivu.h>

RAZIVU_MODULE_EXPORT int32_t razivu_module_init(void);

int32_t razivu_module_init(void) {
    COMPushError("razivu_module_init", RAZIVU_E_FAILED);
    return 3;
}

#ifndef TEST_MODULE_WITHOUT_CALL
RAZIVU_MODULE_EXPORT int32_t razivu_module_call(const char *function);

int32_t razivu_module_call(const char *function) {
    (void)function;
    return RAZIVU_E_NO_FUNCTION;
}
#endif
