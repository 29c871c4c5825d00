// The DDEML client calls on Windows: the real functions of user32.
#include <windows.h>

#include <ddeml.h>

#include "platform/platform.h"
#include "platform/system_calls.h"

namespace razivu::platform {
namespace {

static_assert(dde_client_only == APPCMD_CLIENTONLY && dde_code_page_ansi == CP_WINANSI &&
              dde_format_text == CF_TEXT && dde_execute == XTYP_EXECUTE && dde_ack == DDE_FACK);

uint32_t sys_initialize(uint32_t *instance_io, DdeCallback callback, uint32_t flags,
                        uint32_t reserved) {
    DWORD id = *instance_io;
    // The same calling convention and argument sizes; only the handle types
    // differ in name.
    const auto pfn = reinterpret_cast<PFNCALLBACK>(reinterpret_cast<void (*)()>(callback));
    const UINT rc = DdeInitializeA(&id, pfn, flags, reserved);
    *instance_io = id;
    return rc;
}

void *sys_create_string(uint32_t instance, const char *text, int32_t code_page) {
    return DdeCreateStringHandleA(instance, text, code_page);
}

void *sys_connect(uint32_t instance, void *service, void *topic, void *context) {
    return DdeConnect(instance, static_cast<HSZ>(service), static_cast<HSZ>(topic),
                      static_cast<PCONVCONTEXT>(context));
}

void *sys_transaction(const char *data, uint32_t len, void *conversation, void *item,
                      uint32_t format, uint32_t type, uint32_t timeout_ms, uint32_t *result_out) {
    DWORD result = 0;
    // DDEML only reads the data of an execute transaction.
    HDDEDATA rc = DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<char *>(data)), len,
                                       static_cast<HCONV>(conversation), static_cast<HSZ>(item),
                                       format, type, timeout_ms, &result);
    if (result_out != nullptr) {
        *result_out = result;
    }
    return rc;
}

int32_t sys_disconnect(void *conversation) {
    return DdeDisconnect(static_cast<HCONV>(conversation));
}

int32_t sys_free_string(uint32_t instance, void *string) {
    return DdeFreeStringHandle(instance, static_cast<HSZ>(string));
}

int32_t sys_uninitialize(uint32_t instance) {
    return DdeUninitialize(instance);
}

constexpr DdeCalls system_calls{
    sys_initialize, sys_create_string, sys_connect,      sys_transaction,
    sys_disconnect, sys_free_string,   sys_uninitialize,
};

}  // namespace

const DdeCalls &system_dde_calls() {
    return system_calls;
}

}  // namespace razivu::platform
