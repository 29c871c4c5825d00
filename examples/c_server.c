/* A server of the greeter's functions with every protection of `razivu serve`.
 *
 *   c_server [PORT]     0 or none: a free port, named on the first line
 *
 * It serves until SIGTERM or Ctrl-C. On Windows each connection's worker is
 * this program started again with the same command line: main reaches
 * razivu_server_run as the first time, and the run serves the connection
 * it is handed instead of listening. */
#include <stdlib.h>

#include <razivu/razivu.h>

#include "greeter.h"

static int32_t dispatch(const char *function, void *user_data) {
    (void)user_data;
    return greeter_call(function);
}

int main(int argc, char **argv) {
    RazivuServer *server = razivu_server_new();
    int32_t rc = RAZIVU_SERVER_E_FAILED;
    if (server != NULL &&
        razivu_server_set_number(server, RAZIVU_SERVER_PORT, argc > 1 ? atoi(argv[1]) : 0) == RAZIVU_SERVER_OK &&
        razivu_server_set_text(server, RAZIVU_SERVER_NAME, "c_server") == RAZIVU_SERVER_OK)
        rc = razivu_server_run(server, dispatch, NULL);
    razivu_server_free(server);
    return rc == RAZIVU_SERVER_OK ? 0 : 1;
}
