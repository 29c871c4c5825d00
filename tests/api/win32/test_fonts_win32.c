/* What the Win32 side of font installation leaves in a Wine prefix: the face
 * of an SZDD source in the font table and its entry in WIN.INI. The font is
 * DejaVu Sans renamed "Razivu Sans", a name no font of the system has. */
#include <windows.h>

#include "../check.h"
#include "../font_files.h"
#include <razivu/razivu.h>

static int CALLBACK note_family(const LOGFONTA *lf, const TEXTMETRICA *tm, DWORD type,
                                LPARAM found) {
    (void)lf; (void)tm; (void)type;
    *(int *)found = 1;
    return 0;
}

static int family_in_font_table(const char *family) {
    LOGFONTA want;
    HDC dc = GetDC(NULL);
    int found = 0;
    memset(&want, 0, sizeof want);
    want.lfCharSet = DEFAULT_CHARSET;
    strcpy(want.lfFaceName, family);
    EnumFontFamiliesExA(dc, &want, note_family, (LPARAM)&found, 0);
    ReleaseDC(NULL, dc);
    return found;
}

/* Every "DejaVu" of the names, in one-byte and UTF-16BE form, becomes "Razivu". */
static void rename_font(unsigned char *bytes, long len) {
    static const char from[] = "DejaVu", to[] = "Razivu";
    const long n = (long)strlen(from);
    long i, k;
    for (i = 0; i + 2 * n <= len; ++i) {
        int plain = memcmp(bytes + i, from, (size_t)n) == 0, wide = 1;
        for (k = 0; k < n && wide; ++k) {
            wide = bytes[i + 2 * k] == 0 && bytes[i + 2 * k + 1] == (unsigned char)from[k];
        }
        for (k = 0; k < n && (plain || wide); ++k) {
            bytes[plain ? i + k : i + 2 * k + 1] = (unsigned char)to[k];
        }
    }
}

int main(void) {
    char name[] = "razivu.ttf";
    wchar_t value[64];
    long len = 0;
    unsigned char *font = read_all(DEJAVU, &len);
    CHECK(font != NULL);
    if (font == NULL) {
        return check_summary();
    }
    rename_font(font, len);
    CHECK(write_szdd("razivu.tt_", font, len));
    CHECK(!family_in_font_table("Razivu Sans"));

    CHECK(InstallTrueTypeFont("razivu.tt_", name) == RAZIVU_STATUS_OK);
    CHECK(family_in_font_table("Razivu Sans"));
    GetProfileStringW(L"fonts", L"Razivu Sans (TrueType)", L"", value, 64);
    CHECK(wcscmp(value, L"RAZIVU.ttf") == 0);
    free(font);
    return check_summary();
}
