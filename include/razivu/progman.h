/*
 * Program Manager groups: the product's group KOV in the shell's program menu.
 *
 * The operations return a status code of support.h: 0 done, 1 no command
 * line or item name (or the DDE instance could not be released), 1006 the DDE client
 * could not be set up (nothing was sent), 1007 a command was not carried out
 * (no shell answers to "PROGMAN", it refused the command, or the command
 * would exceed RAZIVU_PROGMAN_COMMAND_MAX characters). Nothing is pushed onto
 * the error stack or logged.
 *
 * On Windows the commands go to the shell over DDE. On Linux a built-in
 * stand-in carries them out as freedesktop menu files: the group becomes
 * $XDG_DATA_HOME/desktop-directories/razivu-kov.directory and the merged
 * menu $XDG_CONFIG_HOME/menus/applications-merged/razivu-kov.menu, each item
 * a launcher $XDG_DATA_HOME/applications/razivu-kov-<item id>.desktop.
 * RAZIVU_PROGMAN=off switches the stand-in off (then every operation gives
 * 1007, as on a machine without a shell).
 */
#ifndef RAZIVU_PROGMAN_H
#define RAZIVU_PROGMAN_H

#include <razivu/export.h>
#include <razivu/support.h>

RAZIVU_BEGIN_DECLS

/* The longest command text sent, terminator not counted. */
#define RAZIVU_PROGMAN_COMMAND_MAX 1023

/* DDEML calls its callbacks with the Windows calling convention. */
#if defined(_WIN32)
#  define RAZIVU_CALLBACK __stdcall
#else
#  define RAZIVU_CALLBACK
#endif

/* Sends "[CreateGroup(KOV)]". */
RAZIVU_API int32_t CreateProgramGroup(void);

/*
 * Shows the group, replaces the item named itemName and adds it again:
 * "[ShowGroup(KOV,1)]", "[ReplaceItem(name)]", then the shortest AddItem form
 * that carries what is given (0 means not given for iconIndex, x and y).
 * A null or empty itemName is named after the program (its file name without
 * directory and extension); 1 when it has none. An empty iconPath counts as
 * none; an icon index or position without an icon path names the program as
 * the icon file (its own icons). Arguments that hold , ( ) [ ] or start with
 * " or start or end with a blank or line break are sent in double quotes, a
 * " inside them doubled. Every command is formatted before anything is sent.
 */
RAZIVU_API int32_t AddProgramItem(const char *commandLine, const char *itemName,
                                  const char *iconPath, int32_t iconIndex, int32_t x, int32_t y);

/*
 * Takes the item named itemName out of the group: "[ShowGroup(KOV,1)]", then
 * "[DeleteItem(name)]" (quoted as AddProgramItem quotes it). 1 for a null or
 * empty name; 1007 when the group or the item is missing.
 */
RAZIVU_API int32_t RemoveProgramItem(const char *itemName);

/* Sends "[DeleteGroup(KOV)]": the group and its items go. 1007 when there is
 * no group. */
RAZIVU_API int32_t RemoveProgramGroup(void);

/* Sends one command within the DDE client instance: 1 carried out, 0 not.
 * On Linux, where there is no DdeInitializeA to call, any instance but 0
 * will do. */
RAZIVU_API int32_t SendProgmanCommand(uint32_t instance, const char *command);

/* The callback of the DDE client instance; answers nothing (returns null). */
RAZIVU_API void *RAZIVU_CALLBACK ProgmanDdeCallback(uint32_t type, uint32_t format,
                                                    void *conversation, void *string1,
                                                    void *string2, void *data, uintptr_t data1,
                                                    uintptr_t data2);

RAZIVU_END_DECLS

#endif
