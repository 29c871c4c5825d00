// DDE on Linux: the client calls answered in-process by the Program Manager
// stand-in. Only the service and topic "PROGMAN" answer, and only while
// RAZIVU_PROGMAN is not "off"; an execute transaction carries its text
// to the interpreter, which keeps the freedesktop menu files.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/platform.h"
#include "platform/system_calls.h"
#include "platform/threads.h"
#include "standins/progman.h"

namespace razivu::platform {
namespace {

// The handles handed out are the addresses of these markers.
char progman_string;  // the string handle of "PROGMAN"
char other_string;    // any other string: no one answers to it
char conversation;    // the one conversation kind there is
char carried_out;     // the data handle of a successful execute

// DMLERR_DLL_USAGE: an instance id was given on entry, as if to re-use one.
constexpr uint32_t error_dll_usage = 0x4004;

// Process-wide DDE bookkeeping.
struct Dde {
    Lock lock;
    uint32_t last_instance = 0;  // id given to the latest instance; ids start at 1
    uint32_t live = 0;           // instances set up and not yet released
};
Dde dde;

bool switched_off() {
    const char *v = std::getenv("RAZIVU_PROGMAN");
    return v != nullptr && ::strcasecmp(v, "off") == 0;
}

uint32_t sys_initialize(uint32_t *instance_io, DdeCallback callback, uint32_t, uint32_t) {
    if (instance_io == nullptr || callback == nullptr || *instance_io != 0) {
        return error_dll_usage;
    }
    Locked held(dde.lock);
    *instance_io = ++dde.last_instance;
    ++dde.live;
    return 0;
}

void *sys_create_string(uint32_t instance, const char *text, int32_t) {
    if (instance == 0 || text == nullptr) {
        return nullptr;
    }
    return ::strcasecmp(text, "PROGMAN") == 0 ? &progman_string : &other_string;
}

void *sys_connect(uint32_t instance, void *service, void *topic, void *) {
    const bool ok =
        instance != 0 && service == &progman_string && topic == &progman_string && !switched_off();
    return ok ? &conversation : nullptr;
}

void *sys_transaction(const char *data, uint32_t len, void *conv, void *item, uint32_t format,
                      uint32_t type, uint32_t, uint32_t *result_out) {
    if (result_out != nullptr) {
        *result_out = 0;
    }
    if (conv != &conversation || item != nullptr || format != dde_format_text ||
        type != dde_execute || data == nullptr || len == 0) {
        return nullptr;
    }
    // CF_TEXT ends at its zero; a block without one is taken whole.
    if (!standins::progman::execute(std::string_view(data, strnlen(data, len)))) {
        return nullptr;
    }
    if (result_out != nullptr) {
        *result_out = dde_ack;
    }
    return &carried_out;
}

int32_t sys_disconnect(void *conv) {
    return conv == &conversation ? 1 : 0;
}

int32_t sys_free_string(uint32_t instance, void *string) {
    return instance != 0 && (string == &progman_string || string == &other_string) ? 1 : 0;
}

int32_t sys_uninitialize(uint32_t instance) {
    Locked held(dde.lock);
    if (instance == 0 || instance > dde.last_instance || dde.live == 0) {
        return 0;
    }
    --dde.live;
    return 1;
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
