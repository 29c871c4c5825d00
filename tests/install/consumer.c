/* Built against an installed razivu: prints the version string. */
#include <stdio.h>
#include <string.h>

#include <razivu/razivu.h>

int main(void) {
    const char *version = GetVersionString();
    printf("%s\n", version);
    return strcmp(version, "KQ-DX Version G.03.01") == 0 ? 0 : 1;
}
