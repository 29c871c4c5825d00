/* Font files for the plain-C font tests: real fonts from the Debian packages
 * (seen through Wine's drive Z: under Wine) and SZDD copies made here. */
#ifndef RAZIVU_TESTS_API_FONT_FILES_H
#define RAZIVU_TESTS_API_FONT_FILES_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SZDD_HEADER_LEN 14
#define LITERALS_PER_FLAG 8

/* Under Wine these name the same files on drive Z:, the working folder's. */
#define DEJAVU "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#define COURIER "/usr/share/wine/fonts/coure.fon"

static unsigned char *read_all(const char *path, long *len_out) {
    FILE *f = fopen(path, "rb");
    unsigned char *bytes = NULL;
    *len_out = 0;
    if (f == NULL || fseek(f, 0, SEEK_END) != 0 || (*len_out = ftell(f)) <= 0 ||
        fseek(f, 0, SEEK_SET) != 0 || (bytes = malloc((size_t)*len_out)) == NULL ||
        fread(bytes, 1, (size_t)*len_out, f) != (size_t)*len_out) {
        free(bytes);
        bytes = NULL;
    }
    if (f != NULL) {
        fclose(f);
    }
    return bytes;
}

/* SZDD of literals only: a flag byte of eight set bits before every eight
 * bytes. Both libmspack and the Windows LZ functions expand it. */
static int write_szdd(const char *path, const unsigned char *bytes, long len) {
    static const unsigned char magic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 'A', 0};
    unsigned char header[SZDD_HEADER_LEN];
    FILE *f = fopen(path, "wb");
    long i;
    int ok = f != NULL;
    memcpy(header, magic, sizeof magic);
    for (i = 0; i < 4; ++i) {
        header[10 + i] = (unsigned char)((unsigned long)len >> (8 * i));
    }
    ok = ok && fwrite(header, 1, sizeof header, f) == sizeof header;
    for (i = 0; ok && i < len; i += LITERALS_PER_FLAG) {
        const size_t n = (size_t)(len - i < LITERALS_PER_FLAG ? len - i : LITERALS_PER_FLAG);
        ok = fputc(0xFF, f) != EOF && fwrite(bytes + i, 1, n, f) == n;
    }
    if (f != NULL) {
        ok = fclose(f) == 0 && ok;
    }
    return ok;
}

#endif
