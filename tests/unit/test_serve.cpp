// `razivu serve` as an operator runs it and an attacker meets it: replies
// before a half-close, before any close and at once for wrong arguments,
// limits that count each call, the worker and per-address bounds, the
// defence when every worker is taken (the choices themselves, and 64
// attacking addresses of each kind), the stop in two steps, prompt reaping,
// --bind, the server's bounded log and lines, sockets from systemd and
// inetd, and many clients at once amid trouble.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/serving.h"
#include "server/admission.h"
#include "tool_process.h"

namespace {

using namespace razivu::test;
namespace test = razivu::test;
namespace admission = razivu::server::admission;
namespace board = razivu::server::board;
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

// The server's entries of connections in trouble once its workers are gone.
int settled_warnings(pid_t server) {
    EXPECT_TRUE(no_workers_within(server, wait_ms));
    return count(test::read_file(log_path("errstack.txt")), "WARNING: razivu serve: 127.0.0.1:");
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
        {"calls, then what is not a call, in one send", "#00004|Echo|i00002|42|#00004|Echo|s00001|x|#99999|",
         Then::closed, "r00010|i00002|42|r00010|s00001|x|", wait_ms},
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
// workers: the rest are refused at once (ten lines of it, and then how many
// more), the 8 are cut when the call time (2 s here) has passed, and a
// client from elsewhere is served meanwhile.

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
    EXPECT_EQ(server.stop(), 0);
    const std::string out = server.output();
    EXPECT_EQ(count(out, "refused: 8 workers serve this address already"), 10) << "ten a minute of each trouble";
    EXPECT_THAT(out, HasSubstr("\u2026 and 14 more like this in the last minute (refused: the address held its share "
                               "of workers)\n"));
    EXPECT_EQ(count(out, "cut: a call took over 2 s"), 8);
    EXPECT_EQ(count(test::read_file(log_path("errstack.txt")), "WARNING: razivu serve: 127.0.0.1:"), 18);
}

// The call time counts each call: a client that keeps calls coming with a
// reader of its own is not cut however long it goes on.
TEST_F(Serve, pipelined_calls_each_have_their_own_call_time) {
    start({"--call-time", "1"});
    const int fd = test::raw_connect(server.port);
    std::atomic<std::size_t> got{0};
    std::thread reader([fd, &got] {
        char buf[65536];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
            got += static_cast<std::size_t>(n);
        }
    });
    std::string burst;
    for (int i = 0; i < 100; ++i) {
        burst += leap_call;
    }
    std::size_t calls = 0;
    for (const Clock::time_point t = Clock::now(); ms_since(t) < 2500 && test::raw_send(fd, burst); calls += 100) {
    }
    ::shutdown(fd, SHUT_WR);
    reader.join();
    ::close(fd);
    EXPECT_EQ(got, calls * 16);
    EXPECT_TRUE(no_workers_within(server.pid, wait_ms));
    EXPECT_THAT(server.output(), HasSubstr("VIZIIsLeapYear 10 x" + std::to_string(calls) + "; " +
                                           std::to_string(calls * 34) + " bytes in, " + std::to_string(calls * 16) +
                                           " out;"));
}

// ---- Every worker taken ------------------------------------------------------------------

TEST(Admission, the_least_productive_worker_makes_room_and_an_address_with_none_is_served_first) {
    using admission::Worker;
    using S = board::State;
    const std::pair<std::vector<Worker>, int> victims[] = {
        {{{S::in_call, 5000, false}, {S::idle, 6000, false}, {S::idle, 300, false}}, 1},
        {{{S::in_call, 200, false}, {S::idle, 100, false}, {S::waiting, 249, false}}, -1},  // all young
        {{{S::idle, 9000, true}, {S::leaving, 9000, false}, {S::in_call, 300, false}}, 2},  // asked, leaving
    };
    for (const auto &[workers, chosen] : victims) {
        EXPECT_EQ(admission::victim(workers), chosen);
    }
    using W = admission::Waiting;
    const std::tuple<std::vector<W>, bool, int> next[] = {
        {{{true, 1, true, 100, 5000}, {true, 0, true, 100, 10}, {true, 0, false, 0, 1}}, true, 2},
        {{{true, 0, true, 9000, 10}, {true, 0, true, 100, 5000}}, true, 0},  // the address served longest ago
        {{{true, 2, true, 10, 10}, {true, 2, true, 10, 99}}, true, 1},       // then the longest wait
        {{{false, 0, false, 0, 1000}, {true, 3, true, 10, 10}}, true, 1},     // silent ones wait under pressure
        {{{false, 0, false, 0, 1000}, {true, 3, true, 10, 10}}, false, 0},
    };
    for (const auto &[waiting, pressure, chosen] : next) {
        EXPECT_EQ(admission::next_to_serve(waiting, pressure), chosen);
    }
    using R = admission::Waiter;
    const std::tuple<std::vector<R>, uint32_t, int> room[] = {
        {{{true, 100, 5}, {false, 300, 1}, {false, 100, 1}}, 0, 1},  // silent long enough
        {{{true, 100, 5}, {true, 200, 5}, {false, 50, 1}}, 0, 1},     // the most crowded address's oldest
        {{{true, 100, 2}, {true, 200, 2}}, 1, -1},                    // no address crowds more than the newcomer's
    };
    for (const auto &[waiting, newcomer, chosen] : room) {
        EXPECT_EQ(admission::make_room_waiting(waiting, newcomer), chosen);
    }
    EXPECT_EQ(admission::idle_limit(30000, true), 3000);
    EXPECT_EQ(admission::first_byte_limit(5000, true), 1000);
    EXPECT_EQ(admission::idle_limit(500, true), 500);
    EXPECT_EQ(admission::idle_limit(30000, false), 30000);
}

// A client of many IPv6 addresses holds one /64, and counts as that.
TEST(Admission, an_ipv6_client_counts_by_its_64_prefix_and_a_mapped_ipv4_one_by_its_address) {
    const std::pair<const char *, const char *> rows[] = {
        {"::ffff:127.0.0.5", "127.0.0.5"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:2:ffff:ffff:ffff:fffe", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"::1", "0:0:0:0::/64"},
    };
    for (const auto &[address, key] : rows) {
        unsigned char v6[16] = {};
        ASSERT_EQ(::inet_pton(AF_INET6, address, v6), 1) << address;
        EXPECT_EQ(razivu::platform::net::address_key(v6), key) << address;
    }
}

// 64 addresses hold 8 connections each, as attackers that took every worker
// of the old server did: silent, dripping a call a byte every 500 ms, or
// making a call and holding the connection (as one that calls every 20 s);
// each one closed is opened again at once. A client from another address is
// answered meanwhile. The figures are printed; the bound asserted is wide,
// for a loaded machine.
enum class Attack { idle, drip, keep_alive };
constexpr int attack_addresses = 64;
constexpr int attack_connections = 8;
constexpr int attack_ms = 5000;
constexpr int drip_every_ms = 500;

int attack(uint16_t port, Attack kind) {
    const int n = attack_addresses * attack_connections;
    std::vector<pollfd> fds(static_cast<std::size_t>(n));
    std::vector<std::size_t> sent(fds.size());
    const auto open = [&](std::size_t i) {
        const std::string from = "127.0.0." + std::to_string(10 + i / attack_connections);
        const int fd = test::connect_to("127.0.0.1", port, from.c_str());
        fds[i] = pollfd{fd, POLLIN, 0};
        sent[i] = kind == Attack::keep_alive ? (test::raw_send(fd, leap_call), 0u) : 0u;
    };
    for (std::size_t i = 0; i < fds.size(); ++i) {
        open(i);
    }
    const std::string call = leap_call;
    for (const Clock::time_point t = Clock::now(); ms_since(t) < attack_ms;) {
        const Clock::time_point round = Clock::now();
        while (ms_since(round) < drip_every_ms && ::poll(fds.data(), fds.size(), drip_every_ms) > 0) {
            for (std::size_t i = 0; i < fds.size(); ++i) {
                char buf[64];
                if (fds[i].revents != 0 && ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT) <= 0 && errno != EAGAIN) {
                    ::close(fds[i].fd);
                    open(i);
                }
            }
        }
        for (std::size_t i = 0; i < fds.size() && kind == Attack::drip; ++i) {
            ::send(fds[i].fd, &call[sent[i]++ % call.size()], 1, MSG_NOSIGNAL);
        }
    }
    return 0;
}

TEST_F(Serve, a_client_is_answered_at_once_while_64_addresses_hold_8_connections_each) {
    const std::pair<Attack, const char *> kinds[] = {
        {Attack::idle, "idle"}, {Attack::drip, "dripping"}, {Attack::keep_alive, "keep-alive"}};
    for (const auto &[kind, name] : kinds) {
        test::ServeProcess s;
        ASSERT_TRUE(s.start({"--quiet"})) << s.output();
        const pid_t attacker = test::run_child([port = s.port, k = kind] { return attack(port, k); });
        ::usleep(1000 * 1000);
        int asked = 0;
        int answered = 0;
        long worst = 0;
        for (const Clock::time_point t = Clock::now(); ms_since(t) < attack_ms - 1500; ::usleep(100 * 1000)) {
            const Clock::time_point call = Clock::now();
            const int fd = test::connect_to("127.0.0.1", s.port, "127.1.0.1");
            test::raw_send(fd, leap_call);
            answered += recv_within(fd, 16, 5 * wait_ms) == leap_reply ? 1 : 0;
            ++asked;
            worst = std::max(worst, ms_since(call));
            ::close(fd);
        }
        EXPECT_EQ(test::wait_child(attacker), 0);
        std::printf("%s attack: %d of %d calls answered, the slowest in %ld ms\n", name, answered, asked, worst);
        EXPECT_EQ(answered, asked) << name;
        EXPECT_LT(worst, wait_ms) << name;
        EXPECT_EQ(s.stop(), 0);
    }
}

// ---- The stop ----------------------------------------------------------------------------

// The first stop finishes what was begun: a call still arriving, a reply of
// megabytes the client reads late; it closes a connection between calls and
// takes no new one. A second stop cuts the rest at once. Each has its line.
TEST_F(Serve, a_stop_finishes_the_calls_begun_and_a_second_stop_cuts_them) {
    if (test::under_thread_sanitizer) {
        GTEST_SKIP() << "ThreadSanitizer delivers signals at points of its own: the second stop reaches "
                        "the worker only after the listening process has killed it";
    }
    start({"--call-time", "5"});
    const int idle = test::raw_connect(server.port);
    test::raw_send(idle, leap_call);
    ASSERT_EQ(recv_within(idle, 16, wait_ms), leap_reply);
    const int arriving = test::raw_connect(server.port);
    test::raw_send(arriving, std::string(leap_call).substr(0, 26));
    const int large = test::raw_connect(server.port);
    std::string echo = "#00004|Echo|";
    for (int i = 0; i < 2000; ++i) {
        echo += "a00900|" + std::string(900, 'x') + "|";
    }
    std::thread sender([large, &echo] { test::raw_send(large, echo); });
    ASSERT_EQ(recv_within(large, 7, wait_ms), "r00010|");
    ::usleep(200 * 1000);
    ::kill(server.pid, SIGTERM);
    EXPECT_TRUE(test::closed_within(idle, wait_ms));
    ::usleep(200 * 1000);
    EXPECT_LT(test::raw_connect(server.port), 0) << "taken after the stop";
    test::raw_send(arriving, std::string(leap_call).substr(26));
    EXPECT_EQ(recv_within(arriving, 16, wait_ms), leap_reply);
    EXPECT_EQ(recv_within(large, echo.size(), 5 * wait_ms), echo.substr(12)) << "the whole reply";
    sender.join();
    EXPECT_TRUE(test::closed_within(arriving, wait_ms));
    EXPECT_EQ(server.stop(SIGCONT), 0) << "the server ended by itself";
    for (const int fd : {idle, arriving, large}) {
        ::close(fd);
    }
    EXPECT_EQ(count(server.output(), "closed: the server stopped\n"), 3);

    test::ServeProcess again;
    ASSERT_TRUE(again.start({"--call-time", "20"}));
    const int dripping = test::raw_connect(again.port);
    test::raw_send(dripping, "#00004|Ec");
    ::usleep(200 * 1000);
    const Clock::time_point stopped = Clock::now();
    ::kill(again.pid, SIGTERM);
    ::usleep(200 * 1000);
    EXPECT_EQ(again.stop(SIGINT), 0);
    EXPECT_LT(ms_since(stopped), 3 * wait_ms) << "not the call time";
    EXPECT_THAT(again.output(), HasSubstr("no calls; 9 bytes in, 0 out; "));
    EXPECT_THAT(again.output(), HasSubstr("cut: the server stopped at once\n"));
    ::close(dripping);
}

// ---- Listening ------------------------------------------------------------------------------

// Every client is taken at once, however busy the workers: a full queue of
// the system would drop a client's SYN, and it would come back a second
// later. With the only worker idle between calls, the first waiting call
// makes it leave, and all are then served in turn.
TEST_F(Serve, clients_are_taken_at_once_and_a_worker_idle_between_calls_makes_room_for_a_call) {
    start({"--workers", "1", "--per-address", "32"});
    const int idle = test::raw_connect(server.port);
    test::raw_send(idle, "#00004|Echo|");
    ASSERT_EQ(recv_within(idle, 7, wait_ms), "r00010|");
    const std::vector<int> queued = test::connect_pending(server.port, 20);
    for (const int fd : queued) {
        ::fcntl(fd, F_SETFL, 0);
        test::raw_send(fd, leap_call);
        ::shutdown(fd, SHUT_WR);
    }
    for (const int fd : queued) {
        EXPECT_EQ(recv_within(fd, 16, wait_ms), leap_reply) << "served in turn";
        ::close(fd);
    }
    EXPECT_TRUE(test::closed_within(idle, 0));
    ::close(idle);
    EXPECT_TRUE(no_workers_within(server.pid, wait_ms));
    EXPECT_THAT(server.output(), HasSubstr("Echo 10; 12 bytes in, 7 out;"));
    EXPECT_THAT(server.output(), HasSubstr("closed to make room for other clients"));
    EXPECT_EQ(count(server.output(), "VIZIIsLeapYear 10; 34 bytes in, 16 out;"), 20);
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
// note that must not count as an error. Nothing a client sends makes an
// error entry: a connection in trouble has a WARNING entry, ten a minute of
// each kind, and then one that says how many more there were.
TEST_F(Serve, each_connection_has_one_line_and_the_log_a_bounded_warning_for_each_in_trouble) {
    const std::string calls = std::string("#00004|Echo|s00002|hi|") + leap_call + leap_call +
                              "#00014|VIZIIsLeapYear|s00001|x|#00006|\x01\nNope|";
    for (const bool quiet : {false, true}) {
        test::ServeProcess s;
        ASSERT_TRUE(quiet ? s.start({"--quiet", test::unknown_service}) : s.start({test::unknown_service}));
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(exchange(s.port, broken_call, 1), "");
        }
        EXPECT_EQ(settled_warnings(s.pid), 5) << "no worker wiped another's entries";
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(exchange(s.port, "#99999|", 1), "");
        }
        EXPECT_EQ(exchange(s.port, calls, 64).size(), 17u + 16 + 16 + 7 + 7);
        EXPECT_EQ(settled_warnings(s.pid), 15);
        const std::string out = s.output();
        const std::regex served(
            "\n[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z 127\\.0\\.0\\.1:[0-9]+ Echo 10, VIZIIsLeapYear 10 x2, VIZIIsLeapYear 20, "
            "\\?\\?Nope 61; 135 bytes in, 63 out; [0-9.]+ s; closed by the client\n");
        EXPECT_EQ(std::regex_search(out, served), !quiet) << out;
        EXPECT_EQ(count(out, "no calls; 9 bytes in, 0 out; "), 5);
        EXPECT_EQ(count(out, "ended: the client left in mid-call\n"), 5);
        EXPECT_EQ(count(out, "ended: not a call\n"), 10);
        EXPECT_EQ(count(out, "closed by the client"), quiet ? 0 : 1);
        const std::string note = std::string("note: service '") + test::unknown_service +
                                 "' is not in the services database; listening on its default port " +
                                 std::to_string(s.port);
        EXPECT_THAT(out, HasSubstr(note));
        EXPECT_EQ(s.stop(quiet ? SIGINT : SIGTERM), 0);
        const std::string log = test::read_file(log_path("errstack.txt"));
        EXPECT_EQ(count(log, "protocol part"), 1) << log;
        EXPECT_EQ(count(log, "razivu serve: listening on 0.0.0.0:" + std::to_string(s.port)), 1);
        EXPECT_EQ(count(log, "ERROR: "), 0) << log;
        EXPECT_THAT(log, AllOf(HasSubstr(note), HasSubstr(quiet ? "stopped by SIGINT" : "stopped by SIGTERM"),
                               HasSubstr("\u2026 and 30 more like this in the last minute (ended: not a call)\n")));
        EXPECT_LT(log.size(), 8192u);
    }
}

// With nobody reading standard error, its lines are left out and counted,
// and the server goes on.
TEST_F(Serve, a_standard_error_nobody_reads_holds_nothing_up) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    ::fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096);
    server.error_fd = pipe_fds[1];
    start();
    ::close(pipe_fds[1]);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(exchange(server.port, leap_call, 16), leap_reply) << i;
    }
    EXPECT_EQ(server.stop(), 0);
    ::close(pipe_fds[0]);
    EXPECT_THAT(test::read_file(log_path("errstack.txt")),
                HasSubstr(" lines left out in the last minute: standard error could not take them\n"));
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

// ---- Modules -----------------------------------------------------------------------------
//
// A module that serves is the examples' (tests/run_example.sh).

TEST_F(Serve, a_module_that_cannot_be_loaded_lacks_its_call_or_refuses_to_start_is_never_served) {
    const std::string missing = test::root() + "/no-such-module.so";
    const std::pair<std::string, std::string> rows[] = {
        {missing, "razivu serve: cannot load the module: " + missing + ": cannot open shared object file"},
        {RAZIVU_TEST_CALLLESS_MODULE,
         std::string("razivu serve: cannot load the module: ") + RAZIVU_TEST_CALLLESS_MODULE +
             " does not export razivu_module_call\n"},
        {RAZIVU_TEST_REFUSING_MODULE,
         std::string("razivu serve: the module ") + RAZIVU_TEST_REFUSING_MODULE +
             " refused to start: razivu_module_init returned 3: RazIvu function razivu_module_init:  Operation "
             "failed.\n"},
    };
    for (const auto &[module, why] : rows) {
        const test::ToolRun run = test::run_tool({"serve", "--port", "0", "--module", module});
        EXPECT_EQ(run.status, 1) << module;
        EXPECT_THAT(run.err, HasSubstr(why));
        EXPECT_EQ(run.out, "") << "never listened";
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
        // A process per connection keeps its entries in a file of its own.
        for (const int n : {1, 2}) {
            EXPECT_EQ(exchange(s.port, leap_call, 16), leap_reply) << what;
            EXPECT_EQ(exchange(s.port, broken_call, 1), "") << what;
            EXPECT_EQ(settled_warnings(s.pid), process_per_connection ? 0 : n) << what << ": none wiped";
        }
        EXPECT_THAT(s.output(), HasSubstr("VIZIIsLeapYear 10; 34 bytes in, 16 out")) << what;
        EXPECT_EQ(count(test::read_file(log_path("serve-connection.txt")), "the client left in mid-call"),
                  process_per_connection ? 1 : 0) << what;
        EXPECT_EQ(count(test::read_file(log_path("errstack.txt")), "listening on 127.0.0.1:" + std::to_string(s.port)),
                  process_per_connection ? 0 : 1) << what;
        std::remove(log_path("serve-connection.txt").c_str());
    }
}

}  // namespace
