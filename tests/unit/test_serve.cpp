// `razivu serve` as an operator runs it and an attacker meets it: replies
// before a half-close and at once for wrong arguments, limits that count
// whole calls, the worker and per-address bounds, the backlog, prompt
// reaping, --bind, the server's log and its per-connection lines, sockets
// from systemd and inetd, and many clients at once amid trouble.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tool_process.h"

namespace {

using namespace razivu::test;
namespace test = razivu::test;
using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr const char *leap_call = "#00014|VIZIIsLeapYear|i00004|2000|";
constexpr const char *leap_reply = "r00010|i00001|1|";
constexpr const char *other_client = "127.0.0.2";
// A call cut in the middle of its function name: the worker's reads fail,
// and the library logs what failed.
constexpr const char *broken_call = "#00004|Ec";

// Waits until pid has no child process left, zombies included; false after ms.
bool no_workers_within(pid_t pid, int ms) {
    const std::string children = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    for (const Clock::time_point start = Clock::now(); !test::read_file(children).empty(); ::usleep(20000)) {
        if (ms_since(start) > ms) {
            return false;
        }
    }
    return true;
}

std::string log_path(const char *file) {
    return test::host(std::string("C:\\var\\opt\\TARNEX\\dro\\log\\") + file);
}

// The ERROR entries of the server's log once its workers are gone.
int settled_errors(pid_t server) {
    EXPECT_TRUE(no_workers_within(server, wait_ms));
    return count(test::read_file(log_path("errstack.txt")), "ERROR: ");
}

class Serve : public test::Tool {
protected:
    void start(std::vector<std::string> args = {}) { ASSERT_TRUE(server.start(std::move(args))); }
    test::ServeProcess server;
};

// ---- Calls ------------------------------------------------------------------------------

TEST_F(Serve, calls_are_answered_before_a_half_close_wrong_arguments_at_once_and_all_amid_trouble) {
    // Under load the clients wait for a worker rather than be refused beyond their address's share.
    start({"--workers", "8", "--per-address", "8"});
    // After the reply: the client closes its sending side and the worker
    // ends, the worker ends by itself, or the connection goes on.
    enum class Then { half_close, closed, goes_on };
    struct Row {
        const char *what;
        std::string sent;
        Then then;
        std::string reply;
        int within_ms;
    };
    // clang-format off
    const Row rows[] = {
        {"a call", "#00004|Echo|i00002|42|", Then::half_close, "r00010|i00002|42|", wait_ms},
        {"calls back to back, the last one short", std::string(leap_call) + "#00015|VIZIIsDateValid|i00001|1|i00001|2|",
         Then::half_close, std::string(leap_reply) + "r00020|", wait_ms},
        {"an unknown function", "#00004|Nope|s00001|x|", Then::half_close, "r00061|", wait_ms},
        {"a day number past seven digits", "#00020|VIZIGetDaysSince1900|i00001|1|i00001|1|i00005|30000|",
         Then::goes_on, "r00022|", wait_ms},
        {"a date from a day number", "#00027|VIZIGetDMYFromDaysSince1900|i00005|36525|", Then::goes_on,
         "r00010|i00001|0|i00001|1|i00001|1|i00004|2000|", wait_ms},
        // Sooner than a call lacking arguments is given up (half a second).
        {"a text where a number belongs", "#00020|VIZIGetDaysSince1900|s00001|x|", Then::goes_on, "r00020|", 400},
        {"a wrong argument before the right ones", "#00015|VIZIIsDateValid|i00001|1|b00001|1|", Then::goes_on,
         "r00020|", 400},
        {"a call without its argument", "#00014|VIZIIsLeapYear|", Then::goes_on, "r00020|", wait_ms},
        {"garbage", "GET / HTTP/1.0\r\n\r\n", Then::closed, "", wait_ms},
        {"arguments without a call", "s00003|abc|", Then::closed, "", wait_ms},
        // Rather than a reply cut short.
        {"a text too long to echo", "#00004|Echo|s00995|" + std::string(995, 'x') + "|", Then::closed, "", wait_ms},
    };
    // clang-format on
    for (const Row &row : rows) {
        const int fd = test::raw_connect(server.port);
        if (row.then == Then::goes_on) {  // a call first: the worker's start is not timed
            test::raw_send(fd, leap_call);
            EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply) << row.what;
        }
        test::raw_send(fd, row.sent);
        if (row.then == Then::half_close) {
            ::shutdown(fd, SHUT_WR);
        }
        const Clock::time_point sent = Clock::now();
        EXPECT_EQ(recv_within(fd, row.reply.size(), wait_ms), row.reply) << row.what;
        EXPECT_LT(ms_since(sent), row.within_ms) << row.what;
        if (row.then == Then::goes_on) {
            test::raw_send(fd, leap_call);
            EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply) << row.what << ": the connection goes on";
        } else {
            EXPECT_TRUE(test::closed_within(fd, wait_ms)) << row.what << ": the worker ends";
        }
        ::close(fd);
    }
    EXPECT_TRUE(test::echo_load(server.port)) << "a client failed or timed out amid trouble";
    EXPECT_EQ(server.stop(), 0);
}

// ---- Slow clients -------------------------------------------------------------------------
//
// 32 connections from one address drip a call, a byte every 200 ms; a stall
// limit per byte would never end them. One address may hold 8 of the 32
// workers: the rest are refused at once, the 8 are cut when the call time
// (2 s here) has passed, and a client from elsewhere is served meanwhile.

constexpr int drippers = 32;
constexpr int drip_step_ms = 200;
constexpr int drip_steps = 20;

TEST_F(Serve, slow_drip_clients_are_cut_whole_calls_late_and_cannot_starve_others) {
    start({"--call-time", "2"});
    const Clock::time_point t0 = Clock::now();
    std::vector<int> fds;
    std::vector<long> closed_at(drippers, -1);
    for (int i = 0; i < drippers; ++i) {
        fds.push_back(test::raw_connect(server.port));
        ASSERT_GE(fds.back(), 0);
    }
    const std::string call = leap_call;
    for (int step = 0; step < drip_steps; ++step, ::usleep(drip_step_ms * 1000)) {
        for (int i = 0; i < drippers; ++i) {
            if (closed_at[i] < 0 && test::closed_within(fds[i], 0)) {
                closed_at[i] = ms_since(t0);
            } else if (closed_at[i] < 0) {
                ::send(fds[i], &call[static_cast<std::size_t>(step) % call.size()], 1, MSG_NOSIGNAL);
            }
        }
        if (step == 2) {
            const Clock::time_point asked = Clock::now();
            const int fd = test::connect_to("127.0.0.1", server.port, other_client);
            test::raw_send(fd, leap_call);
            EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply);
            EXPECT_LT(ms_since(asked), 1000) << "another client waited";
            ::close(fd);
        }
    }
    for (const int fd : fds) {
        ::close(fd);
    }
    const auto closed_between = [&closed_at](long from, long to) {
        return std::count_if(closed_at.begin(), closed_at.end(), [=](long ms) { return ms >= from && ms < to; });
    };
    EXPECT_EQ(closed_between(0, 1000), 24) << "refused";
    EXPECT_EQ(closed_between(1900, 3500), 8) << "cut 2 s after their first byte";
    const std::string out = server.output();
    EXPECT_EQ(count(out, "refused: 8 workers serve this address already"), 24);
    EXPECT_EQ(count(out, "cut: a call took over 2 s"), 8);
    EXPECT_EQ(count(test::read_file(log_path("errstack.txt")), "WARNING: razivu serve: 127.0.0.1:"), 8);
}

// ---- Listening ------------------------------------------------------------------------------

// With the old backlog of 2 the system dropped all but three of these and the
// rest retried after a second and more.
TEST_F(Serve, the_backlog_queues_clients_while_the_only_worker_is_busy) {
    start({"--workers", "1"});
    const int busy = test::raw_connect(server.port);
    test::raw_send(busy, "#00004|Echo|");
    ASSERT_EQ(recv_within(busy, 7, wait_ms), "r00010|");
    const std::vector<int> queued = test::connect_pending(server.port, 20);
    const Clock::time_point start_connect = Clock::now();
    int connected = 0;
    for (const int fd : queued) {
        pollfd p{fd, POLLOUT, 0};
        int err = -1;
        socklen_t len = sizeof err;
        connected += ::poll(&p, 1, static_cast<int>(std::max(0L, 500 - ms_since(start_connect)))) > 0 &&
                     ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    EXPECT_EQ(connected, 20) << "connected within half a second";
    for (const int fd : queued) {
        ::fcntl(fd, F_SETFL, 0);
        test::raw_send(fd, leap_call);
        ::shutdown(fd, SHUT_WR);
    }
    EXPECT_EQ(recv_within(queued[0], 16, 300), "") << "served beyond the bound of one worker";
    ::close(busy);
    for (const int fd : queued) {
        EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply) << "served in turn";
        ::close(fd);
    }
}

TEST_F(Serve, bind_listens_on_the_address_given_only_and_a_connection_silent_between_calls_is_closed) {
    start({"--bind", other_client, "--idle", "1"});
    EXPECT_LT(test::raw_connect(server.port), 0);
    const int fd = test::connect_to(other_client, server.port);
    test::raw_send(fd, leap_call);
    EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply);
    const Clock::time_point answered = Clock::now();
    EXPECT_TRUE(test::closed_within(fd, wait_ms));
    EXPECT_GE(ms_since(answered), 900) << "closed before the idle time";
    ::close(fd);
    EXPECT_TRUE(no_workers_within(server.pid, wait_ms));
    EXPECT_THAT(server.output(), AllOf(HasSubstr("listening on 127.0.0.2:" + std::to_string(server.port)),
                                       HasSubstr("VIZIIsLeapYear 10; 34 bytes in, 16 out;"), HasSubstr("silent for 1 s")));
}

// ---- The server's log -------------------------------------------------------------------

// The service is missing: the server falls back to the port given, with a
// note that must not count as an error.
TEST_F(Serve, each_connection_has_one_line_the_log_keeps_every_workers_errors_and_a_stop_adds_none) {
    const std::string calls = std::string("#00004|Echo|s00002|hi|") + leap_call + leap_call +
                              "#00014|VIZIIsLeapYear|s00001|x|#00006|\x01\nNope|";
    for (const bool quiet : {false, true}) {
        test::ServeProcess s;
        ASSERT_TRUE(quiet ? s.start({"--quiet", test::unknown_service}) : s.start({test::unknown_service}));
        EXPECT_EQ(exchange(s.port, broken_call, 1), "");
        const int first = settled_errors(s.pid);
        EXPECT_GT(first, 0);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(exchange(s.port, broken_call, 1), "");
        }
        EXPECT_EQ(settled_errors(s.pid), 5 * first) << "no worker wiped another's entries";
        EXPECT_EQ(exchange(s.port, calls, 64).size(), 17u + 16 + 16 + 7 + 7);
        const int errors = settled_errors(s.pid);
        const std::string out = s.output();
        const std::regex served(
            "\\[[0-9. :]+\\] 127\\.0\\.0\\.1:[0-9]+ Echo 10, VIZIIsLeapYear 10 x2, VIZIIsLeapYear 20, "
            "\\?\\?Nope 61; 135 bytes in, 63 out; [0-9.]+ s; closed by the client\n");
        EXPECT_EQ(std::regex_search(out, served), !quiet) << out;
        EXPECT_THAT(out, HasSubstr("no calls; 9 bytes in, 0 out;"));
        EXPECT_THAT(out, HasSubstr("ended: the client left in mid-call\n"));
        EXPECT_EQ(count(out, "closed by the client"), quiet ? 0 : 1);
        const std::string note = std::string("note: service '") + test::unknown_service +
                                 "' is not in the services database; listening on its default port " +
                                 std::to_string(s.port);
        EXPECT_THAT(out, HasSubstr(note));
        EXPECT_EQ(s.stop(quiet ? SIGINT : SIGTERM), 0);
        const std::string log = test::read_file(log_path("errstack.txt"));
        EXPECT_EQ(count(log, "protocol part"), 1) << log;
        EXPECT_EQ(count(log, "razivu serve: listening on 0.0.0.0:" + std::to_string(s.port)), 1);
        EXPECT_EQ(count(log, "ERROR: "), errors) << "the stop logged an error";
        EXPECT_THAT(log, AllOf(HasSubstr(note), HasSubstr(quiet ? "stopped by SIGINT" : "stopped by SIGTERM")));
    }
}

// Workers append to the file their parent started; an entry longer than the
// C library's buffer used to reach the file in pieces, which others cut into.
TEST(ServerLog, entries_of_processes_writing_at_once_never_interleave) {
    constexpr int writers = 8;
    constexpr int entries = 30;
    constexpr std::size_t entry_len = 20000;
    WriteLog("errstack.txt", GetVersionString(), RAZIVU_LOG_PLAIN, "parent");
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; ++w) {
        pids.push_back(test::run_child([w] {
            const std::string text(entry_len, static_cast<char>('a' + w));
            for (int i = 0; i < entries; ++i) {
                WriteLog("errstack.txt", GetVersionString(), RAZIVU_LOG_ERROR, "%s", text.c_str());
            }
            return 0;
        }));
    }
    for (const pid_t pid : pids) {
        EXPECT_EQ(test::wait_child(pid), 0);
    }
    const std::string log = test::read_file(log_path("errstack.txt"));
    for (int w = 0; w < writers; ++w) {
        EXPECT_EQ(count(log, "ERROR: " + std::string(entry_len, static_cast<char>('a' + w)) + "\n"), entries)
            << "whole entries of writer " << w;
    }
}

// ---- Sockets from the service manager --------------------------------------------------

TEST_F(Serve, sockets_from_systemd_and_inetd_are_served) {
    if (std::system("command -v systemd-socket-activate > /dev/null") != 0) {
        GTEST_SKIP() << "systemd-socket-activate (Debian package systemd) is not installed";
    }
    // Options of systemd-socket-activate; razivu serve takes --inetd with its --inetd.
    const std::pair<const char *, std::vector<std::string>> rows[] = {
        {"systemd, a listening socket", {}},
        {"inetd wait, a listening socket", {"--inetd"}},
        {"inetd nowait, one connection per process", {"--inetd", "--accept"}},
    };
    for (const auto &[what, manager] : rows) {
        const bool process_per_connection = manager.size() == 2;
        std::remove(log_path("errstack.txt").c_str());
        test::ServeProcess s;
        std::vector<std::string> argv = {"systemd-socket-activate", "-E", "RAZIVU_PREFIX"};
        argv.insert(argv.end(), manager.begin(), manager.end());
        argv.insert(argv.end(), {"-l", "127.0.0.1:" + std::to_string(s.port), test::tool_path(), "serve"});
        if (!manager.empty()) {
            argv.emplace_back("--inetd");
        }
        ASSERT_TRUE(s.start_command(argv)) << what;
        int errors[2] = {};
        for (int &e : errors) {
            EXPECT_EQ(exchange(s.port, leap_call, 16), leap_reply) << what;
            EXPECT_EQ(exchange(s.port, broken_call, 1), "") << what;
            e = settled_errors(s.pid);
        }
        EXPECT_GT(errors[0], 0) << what;
        EXPECT_EQ(errors[1], 2 * errors[0]) << what << ": the second did not wipe the first";
        EXPECT_THAT(s.output(), HasSubstr("VIZIIsLeapYear 10; 34 bytes in, 16 out")) << what;
        EXPECT_EQ(test::exists(log_path("serve-connection.txt")), process_per_connection) << what;
        EXPECT_EQ(count(test::read_file(log_path("errstack.txt")), "listening on 127.0.0.1:" + std::to_string(s.port)),
                  process_per_connection ? 0 : 1) << what;
        std::remove(log_path("serve-connection.txt").c_str());
    }
}

}  // namespace
