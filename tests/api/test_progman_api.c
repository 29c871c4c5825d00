/* Program Manager groups from a plain C client with no shell answering:
 * the refusals that need no shell, and 1007 for every command the shell
 * would have to carry out (the test runs with RAZIVU_PROGMAN=off; under
 * Wine without a display nothing answers either). */
#include <string.h>

#include "check.h"
#include <razivu/progman.h>

int main(void) {
    char long_name[RAZIVU_PROGMAN_COMMAND_MAX + 1];
    memset(long_name, 'n', sizeof long_name - 1);
    long_name[sizeof long_name - 1] = '\0';
    CHECK(AddProgramItem(NULL, "Editor", NULL, 0, 0, 0) == RAZIVU_STATUS_FAILED);
    CHECK(AddProgramItem("", "Editor", NULL, 0, 0, 0) == RAZIVU_STATUS_FAILED);
    CHECK(AddProgramItem("C:\\KOV\\ED.EXE", long_name, NULL, 0, 0, 0) == RAZIVU_STATUS_DDE_COMMAND);
    CHECK(SendProgmanCommand(0, "[CreateGroup(KOV)]") == 0);
    CHECK(SendProgmanCommand(0, NULL) == 0);
    CHECK(ProgmanDdeCallback(0, 0, NULL, NULL, NULL, NULL, 0, 0) == NULL);
    CHECK(CreateProgramGroup() == RAZIVU_STATUS_DDE_COMMAND);
    CHECK(AddProgramItem("C:\\KOV\\ED.EXE", "Editor", NULL, 0, 0, 0) == RAZIVU_STATUS_DDE_COMMAND);
    return check_summary();
}
