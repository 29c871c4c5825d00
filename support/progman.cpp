// Program Manager groups: CreateProgramGroup and AddProgramItem as a DDE
// client of "PROGMAN", one client instance per operation and one
// conversation per command.
#include <cstring>
#include <initializer_list>
#include <string>

#include "diagnostics/boundary.h"
#include "platform/platform.h"
#include "razivu/progman.h"
#include "support/progman_internal.h"

static_assert(razivu::support::progman_command_max == RAZIVU_PROGMAN_COMMAND_MAX);

namespace razivu::support {
namespace {

// A client instance of our own; false when DDEML cannot set one up.
bool set_up(uint32_t *instance_out) {
    *instance_out = 0;
    return platform::dde_calls().initialize(instance_out, ProgmanDdeCallback,
                                            platform::dde_client_only, 0) == 0;
}

// Releases the instance: a failed release makes the status 1, whatever it was.
int32_t release(uint32_t instance, int32_t status) {
    return platform::dde_calls().uninitialize(instance) != 0 ? status : RAZIVU_STATUS_FAILED;
}

// The string handle is freed on every path, also when no one answered.
int32_t send_command(uint32_t instance, const char *command) {
    const platform::DdeCalls &dde = platform::dde_calls();
    void *service = dde.create_string(instance, progman_service, platform::dde_code_page_ansi);
    void *conversation = dde.connect(instance, service, service, nullptr);
    int32_t done = 0;
    if (conversation != nullptr) {
        uint32_t result = 0;
        const auto len = static_cast<uint32_t>(std::strlen(command) + 1);
        done = dde.transaction(command, len, conversation, nullptr, platform::dde_format_text,
                               platform::dde_execute, progman_timeout_ms, &result) != nullptr
                   ? 1
                   : 0;
        dde.disconnect(conversation);
    }
    dde.free_string(instance, service);
    return done;
}

int32_t send_or_fail(uint32_t instance, const std::string &command) {
    return send_command(instance, command.c_str()) == 1 ? RAZIVU_STATUS_OK
                                                        : RAZIVU_STATUS_DDE_COMMAND;
}

// The commands in order within one client instance, up to the first that is
// not carried out; 1007 without sending when one is too long.
int32_t run_commands(std::initializer_list<std::string> commands) {
    for (const std::string &c : commands) {
        if (c.size() > progman_command_max) {
            return RAZIVU_STATUS_DDE_COMMAND;
        }
    }
    uint32_t instance = 0;
    if (!set_up(&instance)) {
        return RAZIVU_STATUS_DDE_SETUP;
    }
    int32_t status = RAZIVU_STATUS_OK;
    for (auto c = commands.begin(); c != commands.end() && status == RAZIVU_STATUS_OK; ++c) {
        status = send_or_fail(instance, *c);
    }
    return release(instance, status);
}

}  // namespace
}  // namespace razivu::support

using razivu::support::release;
using razivu::support::run_commands;
using razivu::support::send_or_fail;
using razivu::support::set_up;

extern "C" {

RAZIVU_API int32_t CreateProgramGroup(void) try {
    return run_commands({std::string("[CreateGroup(") + razivu::support::progman_group + ")]"});
} RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

RAZIVU_API int32_t RemoveProgramItem(const char *itemName) try {
    if (itemName == nullptr || *itemName == '\0') {
        return RAZIVU_STATUS_FAILED;
    }
    return run_commands({razivu::support::show_group_command(),
                         "[DeleteItem(" + razivu::support::command_argument(itemName) + ")]"});
} RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

RAZIVU_API int32_t RemoveProgramGroup(void) try {
    return run_commands({std::string("[DeleteGroup(") + razivu::support::progman_group + ")]"});
} RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

// Every command is formatted before anything is sent: a refused one must not
// leave the old item replaced and the new one missing.
RAZIVU_API int32_t AddProgramItem(const char *commandLine, const char *itemName,
                                  const char *iconPath, int32_t iconIndex, int32_t x,
                                  int32_t y) try {
    if (commandLine == nullptr || *commandLine == '\0') {
        return RAZIVU_STATUS_FAILED;
    }
    razivu::support::ItemCommands commands;
    const int32_t refused =
        razivu::support::item_commands(commandLine, itemName, iconPath, iconIndex, x, y, &commands);
    if (refused != RAZIVU_STATUS_OK) {
        return refused;
    }
    uint32_t instance = 0;
    if (!set_up(&instance)) {
        return RAZIVU_STATUS_DDE_SETUP;
    }
    int32_t status = send_or_fail(instance, commands.show);
    if (status == RAZIVU_STATUS_OK) {
        (void)send_or_fail(instance, commands.replace);
        status = send_or_fail(instance, commands.add);
    }
    return release(instance, status);
} RAZIVU_CATCH(RAZIVU_STATUS_FAILED, nullptr)

RAZIVU_API int32_t SendProgmanCommand(uint32_t instance, const char *command) try {
    return command != nullptr ? razivu::support::send_command(instance, command) : 0;
} RAZIVU_CATCH(0, nullptr)

RAZIVU_API void *RAZIVU_CALLBACK ProgmanDdeCallback(uint32_t, uint32_t, void *, void *, void *,
                                                    void *, uintptr_t, uintptr_t) try {
    return nullptr;
} RAZIVU_CATCH(nullptr, nullptr)

}  // extern "C"
