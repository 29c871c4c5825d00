// contrib/haproxy/haproxy.cfg in front of three `razivu serve` instances on
// loopback, the configuration as shipped but for its ports, its check
// interval and its global section: the Echo health check passes, calls
// spread over the three, and when one instance dies and then another freezes
// (it still takes connections but never answers, which only a check that
// makes a call sees), every later call is answered.
#include <csignal>
#include <cstdio>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tool_process.h"

namespace {

using namespace razivu::test;
namespace test = razivu::test;

constexpr const char *leap_call = "#00014|VIZIIsLeapYear|i00004|2000|";
constexpr const char *leap_reply = "r00010|i00001|1|";
constexpr const char *served_line = "VIZIIsLeapYear 10;";
constexpr int instances = 3;
constexpr int calls = 30;
// Two missed checks of up to `timeout check` (2 s) each, twice over.
constexpr int down_within_ms = 10000;

// from replaced by to in text, where it must stand exactly once.
void replace_once(std::string &text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << "haproxy.cfg no longer has " << from;
    ASSERT_EQ(text.find(from, at + 1), std::string::npos) << "haproxy.cfg has " << from << " twice";
    text.replace(at, from.size(), to);
}

// Waits until what occurs n times in the process's output; false after ms.
bool shows_within(const test::ServeProcess &p, const std::string &what, int n, int ms) {
    for (const Clock::time_point start = Clock::now(); count(p.output(), what) < n; ::usleep(50000)) {
        if (ms_since(start) > ms) {
            return false;
        }
    }
    return true;
}

class Haproxy : public test::Tool {
protected:
    void SetUp() override {
        test::Tool::SetUp();
        if (IsSkipped()) {
            return;
        }
        haproxy = test::run_command("PATH=$PATH:/usr/sbin command -v haproxy").out;
        haproxy = haproxy.substr(0, haproxy.find('\n'));
        if (haproxy.empty()) {
            GTEST_SKIP() << "haproxy (Debian package haproxy) is not installed";
        }
    }
    // The shipped configuration with the test's ports, checks every 200 ms
    // and a global section fit for a process in the foreground.
    std::string config(uint16_t front, const std::vector<test::ServeProcess> &servers) {
        const std::string shipped = RAZIVU_SOURCE_DIR "/contrib/haproxy/haproxy.cfg";
        const test::CommandRun check = test::run_command(haproxy + " -c -q -f '" + shipped + "'");
        EXPECT_EQ(check.status, 0) << "haproxy refuses the configuration as shipped:\n" << check.out;
        std::string text = test::read_file(shipped);
        text = "global\n" + text.substr(text.find("\ndefaults\n"));
        replace_once(text, "bind :::4000 v4v6", "bind 127.0.0.1:" + std::to_string(front));
        replace_once(text, " inter 2s ", " inter 200ms ");
        for (int i = 0; i < instances; ++i) {
            const std::string server = "server razivu" + std::to_string(i + 1) + " 127.0.0.1:";
            replace_once(text, server + "400" + std::to_string(i + 1) + "\n",
                         server + std::to_string(servers[i].port) + "\n");
        }
        const std::string path = test::root() + "/haproxy.cfg";
        test::write_file(path, text);
        return path;
    }
    // Calls through the balancer: how many were answered, and how many each
    // instance served.
    static int call_round(const test::ServeProcess &front, const std::vector<test::ServeProcess> &servers,
                          std::vector<int> &served) {
        const std::vector<int> before = served_by(servers);
        int answered = 0;
        for (int i = 0; i < calls; ++i) {
            answered += test::exchange(front.port, leap_call, 16) == leap_reply ? 1 : 0;
        }
        // A line is written once its connection has ended.
        for (const Clock::time_point start = Clock::now(); ms_since(start) < 5 * wait_ms; ::usleep(50000)) {
            served = served_by(servers);
            for (std::size_t i = 0; i < served.size(); ++i) {
                served[i] -= before[i];
            }
            if (std::accumulate(served.begin(), served.end(), 0) >= answered) {
                break;
            }
        }
        return answered;
    }
    // The calls each instance has served, by its connection lines.
    static std::vector<int> served_by(const std::vector<test::ServeProcess> &servers) {
        std::vector<int> n;
        for (const test::ServeProcess &s : servers) {
            n.push_back(count(s.output(), served_line));
        }
        return n;
    }
    std::string haproxy;
};

TEST_F(Haproxy, calls_spread_over_three_instances_and_all_are_answered_after_one_dies_and_another_freezes) {
    std::vector<test::ServeProcess> servers(instances);
    test::ServeProcess front;
    const std::string cfg = config(front.port, servers);
    // Started before the instances, the balancer marks them down: each is up
    // again only once the check's call is answered as it expects.
    ASSERT_TRUE(front.start_command({haproxy, "-db", "-f", cfg})) << front.output();
    ASSERT_TRUE(shows_within(front, " is DOWN", instances, down_within_ms)) << front.output();
    for (int i = 0; i < instances; ++i) {
        // A prefix of its own: each start empties the log of its prefix.
        const std::string prefix = test::root() + "/instance-" + std::to_string(i);
        ASSERT_TRUE(servers[i].start_command({"env", "RAZIVU_PREFIX=" + prefix, test::tool_path(), "serve", "--port",
                                              std::to_string(servers[i].port)},
                                             "razivu serve: listening on"))
            << servers[i].output();
    }
    ASSERT_TRUE(shows_within(front, "is UP, reason: Layer7 check passed", instances, down_within_ms))
        << front.output();

    std::vector<int> served;
    EXPECT_EQ(call_round(front, servers, served), calls);
    std::printf("all up: %d, %d, %d calls served\n", served[0], served[1], served[2]);
    for (int i = 0; i < instances; ++i) {
        EXPECT_GE(served[i], calls / instances / 2) << "instance " << i;
    }

    // Instance 1 is lost first, then instance 2.
    const std::pair<const char *, int> losses[] = {{"dies", SIGKILL}, {"freezes", SIGSTOP}};
    int lost = 0;
    for (const auto &[what, sig] : losses) {
        ::kill(servers[++lost].pid, sig);
        ASSERT_TRUE(shows_within(front, "razivu/razivu" + std::to_string(lost + 1) + " is DOWN", 2, down_within_ms))
            << what << "\n" << front.output();
        EXPECT_EQ(call_round(front, servers, served), calls) << "after instance " << lost << " " << what;
        std::printf("instance %d %s: %d, %d, %d calls served\n", lost, what, served[0], served[1], served[2]);
        for (int i = 0; i < instances; ++i) {
            EXPECT_EQ(served[i] > 0, i == 0 || i > lost) << "instance " << i << " after " << lost << " " << what;
        }
    }
    servers[1].stop(SIGKILL);
    servers[2].stop(SIGKILL);
    // The checks are calls, whose replies reach the balancer before it
    // closes: no trouble.
    EXPECT_GT(count(servers[0].output(), "Echo 10; 24 bytes in, 19 out; "), 0);
    EXPECT_EQ(count(test::read_file(test::root() + "/instance-0/drive_c/var/opt/TARNEX/dro/log/errstack.txt"),
                    "WARNING"),
              0);
}

}  // namespace
