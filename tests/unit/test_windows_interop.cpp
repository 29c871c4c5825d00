// The 32-bit Windows build against the Linux one over TCP, under 32-bit
// Wine: `razivu.exe call` against the Linux `razivu serve` and the Linux
// `razivu call` against `razivu.exe serve`, the Windows server's worker
// processes under load, its bounds and limits, a service from the prefix's
// own services file, and a program's own server and a module on Windows.
//
// Runs when RAZIVU_WINDOWS_BUILD names a mingw-i686 build folder
// (scripts/test_windows.sh sets it and runs this program once, so that the
// Wine prefix, made once per run, serves every case); skipped otherwise.
// RAZIVU_WINE names the launcher (default /usr/lib/wine/wine, 32-bit).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_env.h"
#include "tool_process.h"

namespace {

namespace test = razivu::test;
namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr const char *default_launcher = "/usr/lib/wine/wine";
constexpr const char *service_name = "razivu-wine-test";
constexpr int close_wait_ms = 6000;  // ample for a limit of 1 s under Wine
constexpr int32_t tenth_ms = 100;

// Process-wide: the Windows build and the Wine prefix every case uses.
struct Wine {
    std::string launcher;  // the 32-bit Wine launcher
    std::string exe;       // razivu.exe, with razivu.dll beside it
    std::string prefix;    // the WINEPREFIX of this run
    std::string why;       // why the cases are skipped, when they are
};
Wine wine;

std::string shell_word(const std::string &word) {
    std::string out = "'";
    for (const char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Standard output and error of the Windows tool, its lines ending in LF as the Linux tool's do.
test::CommandRun run_windows_tool(const std::string &args) {
    test::CommandRun run = test::run_command(shell_word(wine.launcher) + " " + shell_word(wine.exe) + " " + args);
    run.out.erase(std::remove(run.out.begin(), run.out.end(), '\r'), run.out.end());
    return run;
}

// The tool and the library in a folder of their own, as a Windows user has them.
bool make_prefix() {
    const char *build = std::getenv("RAZIVU_WINDOWS_BUILD");
    const char *launcher = std::getenv("RAZIVU_WINE");
    wine.launcher = launcher != nullptr ? launcher : default_launcher;
    wine.why = build == nullptr ? "RAZIVU_WINDOWS_BUILD names no Windows build (scripts/test_windows.sh runs these)"
               : !fs::exists(wine.launcher) ? "no 32-bit Wine at " + wine.launcher : "";
    if (!wine.why.empty()) {
        return false;
    }
    const std::string dir = test::root() + "/windows";
    test::make_dirs(dir);
    std::error_code ec;
    fs::copy_file(std::string(build) + "/tools/razivu.exe", dir + "/razivu.exe", ec);
    fs::copy_file(std::string(build) + "/razivu.dll", dir + "/razivu.dll", ec);
    for (const char *example : {"c_server.exe", "c_module.dll"}) {
        fs::copy_file(std::string(build) + "/examples/" + example, dir + "/" + example, ec);
    }
    wine.exe = dir + "/razivu.exe";
    wine.prefix = test::root() + "/wineprefix";
    ::setenv("WINEPREFIX", wine.prefix.c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    const test::CommandRun boot = test::run_command(shell_word(wine.launcher) + " wineboot -i");
    if (ec || boot.status != 0) {
        wine.why = "the Windows build or the Wine prefix is not usable: " + ec.message() + boot.out;
        return false;
    }
    return true;
}

class WineInterop : public test::Tool {
public:
    static void SetUpTestSuite() { make_prefix(); }
    // The server keeps a removed prefix's files open a moment.
    static void TearDownTestSuite() {
        if (!wine.prefix.empty()) {
            test::run_command(shell_word(wine.launcher.substr(0, wine.launcher.rfind('/')) + "/wineserver") + " -k");
        }
    }

protected:
    void SetUp() override {
        Tool::SetUp();
        if (!wine.why.empty()) {
            GTEST_SKIP() << wine.why;
        }
    }
    // `razivu.exe serve` with args (--port PORT unless args name a service).
    bool start_windows_server(test::ServeProcess &server, std::vector<std::string> args) {
        if (args.empty() || args[0].rfind("--", 0) == 0) {
            args.insert(args.begin(), {"--port", std::to_string(server.port)});
        }
        args.insert(args.begin(), {wine.launcher, wine.exe, "serve"});
        return server.start_command(std::move(args), "razivu serve: listening on");
    }
};

// ---- Each client against each server -------------------------------------------------

// The arguments of `razivu call`, the output and the exit status.
std::vector<std::tuple<std::string, std::string, int>> call_rows() {
    const std::string ok = "return   10 (Call was successful.)\n";
    // Over 999 bytes each way: the call and the reply travel in several pieces.
    const std::string text_a(900, 'x');
    const std::string text_b(900, '|');
    return {
        {"Echo 's:a|b\"c' s:null i:42 b:1 a:00ff7c a:null",
         ok + "string   \"a|b\\\"c\"\nstring   null\ninteger  42\nboolean  1\nbytes    00ff7c (3 bytes)\n"
              "bytes    null\n",
         0},
        {"Echo s:" + text_a + " 's:" + text_b + "' i:-999999",
         ok + "string   \"" + text_a + "\"\nstring   \"" + text_b + "\"\ninteger  -999999\n", 0},
        {"VIZIGetDMYFromDaysSince1900 i:36525", ok + "integer  0\ninteger  1\ninteger  1\ninteger  2000\n", 0},
        {"NoSuchFunction i:1 s:x", "return   61 (No matching COMrpc function found at server.)\n", 1},
    };
}

// WinSock under Wine reads services from the prefix, not from /etc/services.
// Then the Linux server's load test against the Windows server, with its figure.
TEST_F(WineInterop, the_linux_and_the_windows_client_get_the_same_replies_from_either_server_also_under_load) {
    test::ServeProcess linux_server;
    test::ServeProcess windows_server;
    std::ofstream(wine.prefix + "/drive_c/windows/system32/drivers/etc/services", std::ios::app)
        << service_name << "\t" << windows_server.port << "/tcp\r\n";
    ASSERT_TRUE(linux_server.start());
    ASSERT_TRUE(start_windows_server(windows_server, {service_name, "--workers", "8", "--per-address", "8"}))
        << windows_server.output();
    EXPECT_THAT(windows_server.output(), HasSubstr("listening on 0.0.0.0:" + std::to_string(windows_server.port)));
    for (const test::ServeProcess *server : {&linux_server, &windows_server}) {
        const std::string target = "call 127.0.0.1 " + std::to_string(server->port) + " ";
        for (const auto &[args, reply, status] : call_rows()) {
            const std::string what = args.substr(0, 40) + (server == &linux_server ? " (Linux server)" : " (Windows server)");
            for (const test::CommandRun &r : {test::run_command(shell_word(test::tool_path()) + " " + target + args),
                                              run_windows_tool(target + args)}) {
                EXPECT_EQ(r.out, reply) << what;
                EXPECT_EQ(r.status, status) << what;
            }
        }
    }
    EXPECT_THAT(windows_server.output(), HasSubstr("Echo 10;")) << "the workers' lines";
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(test::echo_load(windows_server.port)) << "a client failed or timed out";
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int calls = (test::load_clients + 1) * test::load_calls_per_client;
    std::printf("Windows server under Wine: %d Echo calls amid %d troublemakers in %.2f s, %.0f calls/s\n",
                calls, test::load_troublemakers, seconds, calls / seconds);
}

// ---- The Windows server --------------------------------------------------------------

// Waits up to close_wait_ms until text has appeared n times in the server's output.
bool shows(const test::ServeProcess &server, const std::string &text, int n) {
    for (int waited = 0; waited < close_wait_ms; waited += tenth_ms, ::usleep(tenth_ms * 1000)) {
        if (test::count(server.output(), text) >= n) {
            return true;
        }
    }
    return false;
}

TEST_F(WineInterop, the_windows_server_cuts_slow_calls_and_closes_silent_connections) {
    test::ServeProcess server;
    ASSERT_TRUE(start_windows_server(server, {"--call-time", "1", "--idle", "1"}));
    // Silent, then dripping a call that never ends.
    for (const char *sent : {"", "#00014|VIZIIsLeapYear|i000"}) {
        const int fd = test::raw_connect(server.port);
        test::raw_send(fd, sent);
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(test::closed_within(fd, close_wait_ms)) << "never closed: " << sent;
        EXPECT_GE(test::ms_since(start), 900) << "closed before the limit: " << sent;
        ::close(fd);
    }
    // A client that sends calls and reads no reply: the server's send blocks until it is cut.
    const int deaf = test::raw_connect(server.port);
    const std::string call = "#00004|Echo|a00900|" + std::string(900, 'x') + "|";
    for (int i = 0; i < 4000 && ::send(deaf, call.data(), call.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0; ++i) {
    }
    EXPECT_TRUE(shows(server, "cut: a call took over 1 s", 2)) << server.output();
    ::close(deaf);
    EXPECT_THAT(server.output(), AllOf(HasSubstr("no calls; "), HasSubstr("silent for 1 s")));
}

// A second connection, from the address given, while a first from 127.0.0.1
// is idle after its call and holds the only worker or its address's share:
// the first makes room for the second's call, the second is refused, or it
// is served at once.
enum class Fate { made_room, refused, served };

TEST_F(WineInterop, the_windows_server_keeps_its_worker_bound_and_each_address_to_its_share) {
    const std::string second_call = "#00004|Echo|i00001|7|";
    const std::string second_reply = "r00010|i00001|7|";
    const std::tuple<std::vector<std::string>, const char *, Fate> rows[] = {
        {{"--workers", "1"}, "127.0.0.1", Fate::made_room},
        {{"--workers", "4", "--per-address", "1"}, "127.0.0.1", Fate::refused},
        {{"--workers", "4", "--per-address", "1"}, "127.0.0.2", Fate::served},
    };
    for (const auto &[args, from, fate] : rows) {
        test::ServeProcess server;
        ASSERT_TRUE(start_windows_server(server, args));
        const int first = test::connect_to("127.0.0.1", server.port);
        test::raw_send(first, "#00004|Echo|");
        EXPECT_EQ(test::raw_recv(first, 7), "r00010|");
        const int second = test::connect_to("127.0.0.1", server.port, from);
        test::raw_send(second, second_call);
        EXPECT_EQ(test::recv_within(second, second_reply.size(), close_wait_ms), fate == Fate::refused ? "" : second_reply)
            << args[1] << " " << from;
        EXPECT_EQ(test::closed_within(first, 0), fate == Fate::made_room) << args[1] << " " << from;
        ::close(first);
        ::close(second);
        const char *line = fate == Fate::refused ? "refused: 1 workers serve this address already"
                                                 : "closed to make room for other clients";
        EXPECT_EQ(shows(server, line, 1), fate != Fate::served) << args[1] << " " << from;
    }
}

// Ctrl-C (SIGINT from Linux, under Wine) reaches the listening process,
// which tells its workers: the call begun is finished, the connection
// between calls closed; a second one cuts what is left.
TEST_F(WineInterop, the_windows_server_finishes_the_calls_begun_at_a_stop_and_cuts_them_at_a_second) {
    const std::string call = "#00014|VIZIIsLeapYear|i00004|2000|";
    for (const bool twice : {false, true}) {
        test::ServeProcess server;
        ASSERT_TRUE(start_windows_server(server, {"--call-time", "20"}));
        const int idle = test::raw_connect(server.port);
        test::raw_send(idle, call);
        EXPECT_EQ(test::recv_within(idle, 16, close_wait_ms), "r00010|i00001|1|");
        const int arriving = test::raw_connect(server.port);
        test::raw_send(arriving, call.substr(0, 26));
        ::usleep(500 * 1000);  // its worker has it
        ::kill(server.pid, SIGINT);
        EXPECT_TRUE(test::closed_within(idle, close_wait_ms));
        if (twice) {
            ::kill(server.pid, SIGINT);
        } else {
            test::raw_send(arriving, call.substr(26));
        }
        EXPECT_EQ(test::recv_within(arriving, 16, close_wait_ms), twice ? "" : "r00010|i00001|1|");
        EXPECT_EQ(server.stop(SIGCONT), 0) << "ended by itself";
        EXPECT_EQ(test::count(server.output(), "closed: the server stopped"), twice ? 1 : 2) << server.output();
        EXPECT_EQ(test::count(server.output(), "cut: the server stopped at once"), twice ? 1 : 0);
        ::close(idle);
        ::close(arriving);
    }
}

// ---- A program's own server ------------------------------------------------------------

// The C example server, whose workers are the program started again with
// its command line, and the same functions as a module of razivu.exe serve,
// each with the Linux C++ example client: the handler contract holds in a
// worker that is a process started afresh.
TEST_F(WineInterop, the_example_server_and_module_serve_their_functions_from_windows_workers) {
    const fs::path dir = fs::path(wine.exe).parent_path();
    const fs::path client = fs::path(test::tool_path()).parent_path().parent_path() / "examples" / "cpp_client";
    std::string module = "Z:" + (dir / "c_module.dll").string();
    std::replace(module.begin(), module.end(), '/', '\\');
    const std::vector<std::string> servers[] = {
        {wine.launcher, (dir / "c_server.exe").string()},
        {wine.launcher, wine.exe, "serve", "--module", module, "--port"},
    };
    for (std::vector<std::string> argv : servers) {
        test::ServeProcess server;
        argv.push_back(std::to_string(server.port));
        ASSERT_TRUE(server.start_command(argv, "listening on")) << server.output();
        const test::CommandRun run =
            test::run_command(shell_word(client.string()) + " 127.0.0.1 " + std::to_string(server.port));
        EXPECT_EQ(run.out, "Add(2, 3) = 5\nGreet(\"world\") = Hello, world\n"
                           "Subtract: the server answered 61 (No matching COMrpc function found at server.)\n")
            << argv[1];
        EXPECT_TRUE(shows(server, "Add 10, Greet 10, Subtract 61; ", 1)) << server.output();
        EXPECT_EQ(server.stop(SIGINT), 0) << server.output();
    }
}

}  // namespace
