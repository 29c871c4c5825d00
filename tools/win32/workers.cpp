// Worker "processes" on Windows: there is no fork, so the listening process
// serves each connection itself, one after the other. The bound is then 1.
#include "../workers.h"

#include <windows.h>

#include <csignal>
#include <cstdio>

#include <razivu/razivu.h>

namespace razivu_tool::workers {
namespace {

constexpr DWORD rest_ms = 100;

volatile std::sig_atomic_t stop_signo = 0;  // set by Ctrl-C or SIGTERM

void on_stop(int sig) {
    stop_signo = sig;
}

}  // namespace

void start(int) {
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
}

bool stopping() {
    return stop_signo != 0;
}

const char *stop_signal() {
    return stop_signo == SIGTERM ? "SIGTERM" : stop_signo == SIGINT ? "SIGINT" : "";
}

bool wait_for_connection(int32_t) {
    return !stopping();
}

void rest() {
    Sleep(rest_ms);
}

int serving(const std::string &) {
    return 0;
}

bool spawn(int32_t, int32_t conn, const net::Peer &peer, ServeFn serve) {
    serve(conn, peer);
    COMCloseSock(conn);
    return true;
}

int serve_here(int32_t conn, const net::Peer &peer, ServeFn serve) {
    const int status = serve(conn, peer);
    COMCloseSock(conn);
    return status;
}

void stop_all() {}

}  // namespace razivu_tool::workers
