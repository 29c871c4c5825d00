/* A minimal check macro for the plain-C tests of the public interface. */
#ifndef RAZIVU_TESTS_API_CHECK_H
#define RAZIVU_TESTS_API_CHECK_H

#include <stdio.h>
#include <stdlib.h>

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                                                 \
    do {                                                                            \
        ++checks;                                                                   \
        if (!(cond)) {                                                              \
            ++failures;                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                           \
    } while (0)

/* Prints the closing count and gives the exit status. */
static int check_summary(void) {
    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

#endif
