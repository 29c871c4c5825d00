/* Font installation from a plain C client on Linux and under Wine: an SZDD
 * copy of a real TrueType font and a real font resource file installed, their
 * entries read back from WIN.INI, and the refusals. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "font_files.h"
#include <razivu/razivu.h>

static void truetype_install(void) {
    char name[] = "dejavu.ttf";
    char value[64];
    RazivuWChar face[RAZIVU_FACE_NAME_CAP];
    long len = 0;
    unsigned char *bytes = read_all(DEJAVU, &len);
    CHECK(bytes != NULL && write_szdd("dejavu.tt_", bytes, len));
    free(bytes);
    CHECK(InstallTrueTypeFont("dejavu.tt_", name) == RAZIVU_STATUS_OK);
    CHECK(strcmp(name, "DEJAVU.TTF") == 0);
    CHECK(GetTrueTypeFaceName("C:\\WINDOWS\\FONTS\\dejavu.ttf", face) == RAZIVU_STATUS_OK &&
          face[0] == 'D' && face[11] == 0);
    ProfileGetString("fonts", "DejaVu Sans (TrueType)", "", value, (int32_t)sizeof value, "WIN.INI");
    CHECK(strcmp(value, "DEJAVU.ttf") == 0);
}

static void resource_install(void) {
    char name[] = "coure.fon";
    char again[] = "coure2.fon";
    char value[64];
    char description[RAZIVU_DESCRIPTION_CAP];
    CHECK(ReadFontModuleDescription(COURIER, description) == 1);
    CHECK(strcmp(description, "FONTRES 100,96,96 : Courier 10 (VGA res)") == 0);
    CHECK(InstallFontResourceFile(COURIER, name) == RAZIVU_STATUS_OK);
    CHECK(strcmp(name, "COURE.FON") == 0);
    ProfileGetString("fonts", "Courier 10 (VGA res)", "", value, (int32_t)sizeof value, "WIN.INI");
    CHECK(strcmp(value, "COURE.FON") == 0);
    CHECK(InstallFontResourceFile(COURIER, again) == RAZIVU_STATUS_FAILED);
}

/* Refused arguments leave the caller's buffers as they were; a source that
 * expands short is not installed, but its name is upper-cased first. */
static void refusals(void) {
    static const unsigned char cut[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 'A', 0,
                                        0x00, 0x10, 0x00, 0x00, 0xFF, 'a', 'b'};
    char long_text[RAZIVU_PATH_CAP] = "";
    /* The first is too short for a TrueType name only; the last makes a
     * target path past 255 characters. */
    const char *const bad_names[] = {"ab", "", "x\\y.ttf", "a/b.ttf", "c:b.ttf", "x\r\n.ttf",
                                     memset(long_text, 'n', 240)};
    char name[RAZIVU_PATH_CAP];
    RazivuWChar face[RAZIVU_FACE_NAME_CAP] = {0x2A};
    char description[RAZIVU_DESCRIPTION_CAP] = "#";
    FILE *f = fopen("cut.tt_", "wb");
    size_t i;
    CHECK(f != NULL && fwrite(cut, 1, sizeof cut, f) == sizeof cut);
    if (f != NULL) {
        fclose(f);
    }
    for (i = 0; i < sizeof bad_names / sizeof bad_names[0]; ++i) {
        strcpy(name, bad_names[i]);
        CHECK(InstallTrueTypeFont(DEJAVU, name) == RAZIVU_STATUS_FAILED);
        CHECK((i == 0 || InstallFontResourceFile(COURIER, name) == RAZIVU_STATUS_FAILED) &&
              strcmp(name, bad_names[i]) == 0);
    }
    strcpy(name, "ok.ttf");
    CHECK(InstallTrueTypeFont(memset(long_text, 's', 256), name) == RAZIVU_STATUS_FAILED &&
          strcmp(name, "ok.ttf") == 0);
    strcpy(name, "cut.ttf");
    CHECK(InstallTrueTypeFont("cut.tt_", name) == RAZIVU_STATUS_FAILED);
    CHECK(strcmp(name, "CUT.TTF") == 0);
    CHECK(InstallTrueTypeFont(NULL, name) == RAZIVU_STATUS_FAILED);
    CHECK(InstallTrueTypeFont(DEJAVU, NULL) == RAZIVU_STATUS_FAILED);
    CHECK(InstallFontResourceFile(NULL, name) == RAZIVU_STATUS_FAILED);
    CHECK(GetTrueTypeFaceName("no-such.ttf", face) == RAZIVU_STATUS_FAILED && face[0] == 0x2A);
    CHECK(GetTrueTypeFaceName(NULL, face) == RAZIVU_STATUS_FAILED);
    CHECK(GetTrueTypeFaceName(DEJAVU, NULL) == RAZIVU_STATUS_FAILED);
    CHECK(ReadFontModuleDescription("no-such.fon", description) == 0 && description[0] == '#');
    CHECK(ReadFontModuleDescription(NULL, description) == 0);
}

int main(void) {
    truetype_install();
    resource_install();
    refusals();
    return check_summary();
}
