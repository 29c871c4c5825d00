// Worker "processes" on Windows: there is no fork, so the listening process
// serves each connection itself, one after the other. The bound is then 1.
#include "../workers.h"

#include <csignal>

#include <razivu/razivu.h>

namespace razivu_tool::workers {
namespace {

volatile std::sig_atomic_t stop_requested = 0;  // set by Ctrl-C or SIGTERM

void on_stop(int) {
    stop_requested = 1;
}

}  // namespace

void start(int) {
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
}

bool stopping() {
    return stop_requested != 0;
}

bool wait_for_room() {
    return !stopping();
}

// serve closes the connection itself when it is done.
bool spawn(int32_t, int32_t conn, ServeFn serve) {
    serve(conn);
    return true;
}

void stop_all() {}

// A served connection blocks the only server; stalls are not bounded here.
void limit_stalls(int32_t, int) {}

}  // namespace razivu_tool::workers
