/* Font installation from a plain C client, linked against the shared
 * library, on Linux and under Wine: an LZ-compressed (SZDD) copy of a real
 * TrueType font and a real font resource file installed into the Windows
 * directory, their entries read back from WIN.INI, and the refusals. The
 * fonts come from the Debian packages, seen through Wine's drive Z: there. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "font_files.h"
#include <razivu/razivu.h>

static void truetype_install(void) {
    char name[] = "dejavu.ttf";
    char target[RAZIVU_PATH_CAP];
    char value[64];
    RazivuWChar face[RAZIVU_FACE_NAME_CAP];
    long len = 0;
    unsigned char *bytes = read_all(existing(dejavu), &len);
    CHECK(bytes != NULL && write_szdd("dejavu.tt_", bytes, len));
    free(bytes);
    CHECK(InstallTrueTypeFont("dejavu.tt_", name) == RAZIVU_STATUS_OK);
    CHECK(strcmp(name, "DEJAVU.TTF") == 0);
    CHECK(GetWindowsDir(target, (int32_t)sizeof target) == RAZIVU_STATUS_OK);
    strcat(target, "\\FONTS\\dejavu.ttf");
    CHECK(GetTrueTypeFaceName(target, face) == RAZIVU_STATUS_OK && face[0] == 'D' &&
          face[11] == 0);
    ProfileGetString("fonts", "DejaVu Sans (TrueType)", "", value, (int32_t)sizeof value, "WIN.INI");
    CHECK(strcmp(value, "DEJAVU.ttf") == 0);
}

static void resource_install(void) {
    char name[] = "coure.fon";
    char again[] = "coure2.fon";
    char value[64];
    char description[RAZIVU_DESCRIPTION_CAP];
    CHECK(ReadFontModuleDescription(existing(courier), description) == 1);
    CHECK(strcmp(description, "FONTRES 100,96,96 : Courier 10 (VGA res)") == 0);
    CHECK(InstallFontResourceFile(existing(courier), name) == RAZIVU_STATUS_OK);
    CHECK(strcmp(name, "COURE.FON") == 0);
    ProfileGetString("fonts", "Courier 10 (VGA res)", "", value, (int32_t)sizeof value, "WIN.INI");
    CHECK(strcmp(value, "COURE.FON") == 0);
    CHECK(InstallFontResourceFile(existing(courier), again) == RAZIVU_STATUS_FAILED);
}

/* Refused arguments leave the caller's buffers as they were; a source that
 * expands short is not installed, but its name is upper-cased first. */
static void refusals(void) {
    char short_name[] = "ab";
    char with_dir[] = "x\\y.ttf";
    char corrupt[] = "cut.ttf";
    RazivuWChar face[RAZIVU_FACE_NAME_CAP] = {0x2A};
    char description[RAZIVU_DESCRIPTION_CAP] = "#";
    static const unsigned char cut[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 'A', 0,
                                        0x00, 0x10, 0x00, 0x00, 0xFF, 'a', 'b'};
    FILE *f = fopen("cut.tt_", "wb");
    CHECK(f != NULL && fwrite(cut, 1, sizeof cut, f) == sizeof cut);
    if (f != NULL) {
        fclose(f);
    }
    CHECK(InstallTrueTypeFont(existing(dejavu), short_name) == RAZIVU_STATUS_FAILED);
    CHECK(strcmp(short_name, "ab") == 0);
    CHECK(InstallTrueTypeFont(existing(dejavu), with_dir) == RAZIVU_STATUS_FAILED);
    CHECK(strcmp(with_dir, "x\\y.ttf") == 0);
    CHECK(InstallTrueTypeFont("cut.tt_", corrupt) == RAZIVU_STATUS_FAILED);
    CHECK(strcmp(corrupt, "CUT.TTF") == 0);
    CHECK(InstallTrueTypeFont(NULL, corrupt) == RAZIVU_STATUS_FAILED);
    CHECK(InstallTrueTypeFont(existing(dejavu), NULL) == RAZIVU_STATUS_FAILED);
    CHECK(InstallFontResourceFile(NULL, corrupt) == RAZIVU_STATUS_FAILED);
    CHECK(GetTrueTypeFaceName("no-such.ttf", face) == RAZIVU_STATUS_FAILED && face[0] == 0x2A);
    CHECK(GetTrueTypeFaceName(NULL, face) == RAZIVU_STATUS_FAILED);
    CHECK(GetTrueTypeFaceName(existing(dejavu), NULL) == RAZIVU_STATUS_FAILED);
    CHECK(ReadFontModuleDescription("no-such.fon", description) == 0 && description[0] == '#');
    CHECK(ReadFontModuleDescription(NULL, description) == 0);
}

int main(void) {
    truetype_install();
    resource_install();
    refusals();
    return check_summary();
}
