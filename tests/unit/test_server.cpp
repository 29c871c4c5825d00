// The library's server as a program uses it (razivu/server.h, razivu.hpp):
// a server run in this process, its workers forked from it, and raw clients
// and the C++ client on 127.0.0.1. The handler contract, the options, the
// process left as it was found, and the C++ interface both ways.
#include <csignal>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <razivu/razivu.hpp>

#include "tool_process.h"

namespace {

namespace test = razivu::test;
using ::testing::HasSubstr;

// Each function a behaviour of the handler contract.
int32_t contract(const char *function, void *) {
    const std::string f = function;
    int32_t a = 0;
    int32_t b = 0;
    if (f == "Add") {
        if (UnpackInteger(&a) != 0 || UnpackInteger(&b) != 0) {
            return -1;
        }
        ResetBuffer();
        PackReturnCode(RAZIVU_OK);
        PackInteger(a + b);
        SendBuffer();
        return 0;
    }
    if (f == "Fail") {  // after its reply has begun
        ResetBuffer();
        PackReturnCode(RAZIVU_OK);
        SendBuffer();
        COMPushError("Fail", RAZIVU_E_FAILED);
        return -1;
    }
    if (f == "Greedy") {  // reads on after its arguments: the next call stays whole
        int32_t n = 0;
        while (UnpackInteger(&a) == 0) {
            ++n;
        }
        ResetBuffer();
        PackReturnCode(RAZIVU_OK);
        PackInteger(n);
        SendBuffer();
        return 0;
    }
    if (f == "Lazy") {  // leaves its arguments unread
        ResetBuffer();
        PackReturnCode(RAZIVU_OK);
        SendBuffer();
        return 0;
    }
    if (f == "Throw") {
        throw std::runtime_error("a C++ handler threw");
    }
    return f == "Silent" ? 0 : RAZIVU_E_NO_FUNCTION;
}

// What the process had before a server ran in it.
struct ProcessState {
    void *handlers[4] = {};
    sigset_t mask{};
    rlim_t files = 0;

    static ProcessState now() {
        ProcessState s;
        const int signals[] = {SIGPIPE, SIGCHLD, SIGINT, SIGTERM};
        for (int i = 0; i < 4; ++i) {
            struct sigaction sa {};
            sigaction(signals[i], nullptr, &sa);
            s.handlers[i] = reinterpret_cast<void *>(sa.sa_handler);
        }
        pthread_sigmask(SIG_BLOCK, nullptr, &s.mask);
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        s.files = limit.rlim_cur;
        return s;
    }
    bool operator==(const ProcessState &o) const {
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sigismember(&mask, sig) != sigismember(&o.mask, sig)) {
                return false;
            }
        }
        return std::equal(std::begin(handlers), std::end(handlers), std::begin(o.handlers)) && files == o.files;
    }
};

// A server run in a thread of this process until stop().
class InProcess {
public:
    explicit InProcess(RazivuServer *server, RazivuCallHandler handler = contract) : server_(server) {
        runner_ = std::thread([this, handler] { result_ = razivu_server_run(server_, handler, nullptr); });
        for (int i = 0; i < 100 && (port = static_cast<uint16_t>(razivu_server_port(server_))) == 0; ++i) {
            ::usleep(20000);
        }
    }
    int32_t stop() {
        razivu_server_stop(server_);
        runner_.join();
        return result_;
    }
    uint16_t port = 0;

private:
    RazivuServer *server_;
    std::thread runner_;
    int32_t result_ = -1;
};

std::string server_log() {
    return test::read_file(test::host("C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt"));
}

constexpr const char *add_call = "#00003|Add|i00001|2|i00001|3|";
constexpr const char *add_reply = "r00010|i00001|5|";

TEST(Server, a_handler_answers_does_not_know_fails_or_stays_silent_and_the_connection_goes_on_or_ends) {
    const ProcessState before = ProcessState::now();
    RazivuServer *server = razivu_server_new();
    ASSERT_EQ(razivu_server_set_number(server, RAZIVU_SERVER_PORT, 0), RAZIVU_SERVER_OK);
    ASSERT_EQ(razivu_server_set_text(server, RAZIVU_SERVER_BIND, "127.0.0.1"), RAZIVU_SERVER_OK);
    InProcess running(server);
    ASSERT_NE(running.port, 0);
    EXPECT_EQ(razivu_server_run(server, contract, nullptr), RAZIVU_SERVER_E_BUSY);
    EXPECT_EQ(razivu_server_next_argument(), -1) << "outside a handler";
    struct Row {
        std::string sent;
        std::string reply;
        bool goes_on;
    };
    const Row rows[] = {
        {add_call, add_reply, true},
        {"#00004|Nope|s00001|x|", "r00061|", true},
        {"#00004|Fail|", "", false},  // rather than a reply cut short
        {"#00006|Silent|", "", false},
        {"#00005|Throw|", "", false},
        {std::string("#00006|Greedy|i00001|1|i00001|2|") + add_call, std::string("r00010|i00001|2|") + add_reply,
         true},
        {"#00004|Lazy|s00003|abc|a00002|xy|i00004|1234|", "r00010|", true},
        {"#00003|Add|s00001|x|", "", false},  // the handler failed on it
    };
    for (const Row &row : rows) {
        const int fd = test::raw_connect(running.port);
        test::raw_send(fd, row.sent);
        EXPECT_EQ(test::recv_within(fd, row.reply.size(), test::wait_ms), row.reply) << row.sent;
        if (row.goes_on) {
            test::raw_send(fd, add_call);
            EXPECT_EQ(test::recv_within(fd, 16, test::wait_ms), add_reply) << row.sent << ": the connection goes on";
        } else {
            EXPECT_TRUE(test::closed_within(fd, test::wait_ms)) << row.sent << ": the connection ends";
        }
        ::close(fd);
    }
    EXPECT_EQ(running.stop(), RAZIVU_SERVER_OK);
    EXPECT_EQ(razivu_server_port(server), 0);
    razivu_server_free(server);
    EXPECT_TRUE(ProcessState::now() == before) << "signals, mask and the file limit put back";
    const std::string log = server_log();
    EXPECT_THAT(log, HasSubstr("ended: the call failed (returned -1: RazIvu function Fail:  Operation failed."));
    EXPECT_THAT(log, HasSubstr("ended: the call was not answered"));
    EXPECT_EQ(test::count(log, "ERROR: "), 0) << "a handler's pushes stay out of the log:\n" << log;
}

TEST(Server, options_out_of_range_or_unknown_are_refused_and_a_run_says_what_it_lacks) {
    RazivuServer *server = razivu_server_new();
    const std::tuple<int32_t, int32_t, int32_t> numbers[] = {
        {RAZIVU_SERVER_PORT, 65536, RAZIVU_SERVER_E_VALUE},  {RAZIVU_SERVER_WORKERS, 0, RAZIVU_SERVER_E_VALUE},
        {RAZIVU_SERVER_WORKERS, 1025, RAZIVU_SERVER_E_VALUE}, {RAZIVU_SERVER_QUIET, 2, RAZIVU_SERVER_E_VALUE},
        {RAZIVU_SERVER_BIND, 1, RAZIVU_SERVER_E_OPTION},      {RAZIVU_SERVER_IDLE_MS, 1, RAZIVU_SERVER_OK},
    };
    for (const auto &[option, value, result] : numbers) {
        EXPECT_EQ(razivu_server_set_number(server, option, value), result) << option << " " << value;
    }
    const std::tuple<int32_t, const char *, int32_t> texts[] = {
        {RAZIVU_SERVER_BIND, "127.1", RAZIVU_SERVER_E_VALUE},
        {RAZIVU_SERVER_BIND, "127.0.0.256", RAZIVU_SERVER_E_VALUE},
        {RAZIVU_SERVER_NAME, "", RAZIVU_SERVER_E_VALUE},
        {RAZIVU_SERVER_PORT, "7000", RAZIVU_SERVER_E_OPTION},
        {RAZIVU_SERVER_BIND, nullptr, RAZIVU_SERVER_OK},
    };
    for (const auto &[option, value, result] : texts) {
        EXPECT_EQ(razivu_server_set_text(server, option, value), result) << option << " " << (value ? value : "null");
    }
    EXPECT_EQ(razivu_server_run(server, nullptr, nullptr), RAZIVU_SERVER_E_OPTION);
    EXPECT_EQ(razivu_server_run(server, contract, nullptr), RAZIVU_SERVER_E_NO_SOCKET);
    ASSERT_EQ(razivu_server_set_text(server, RAZIVU_SERVER_SERVICE, test::unknown_service), RAZIVU_SERVER_OK);
    EXPECT_EQ(razivu_server_run(server, contract, nullptr), RAZIVU_SERVER_E_NO_SERVICE);
    razivu_server_free(server);
}

// ---- The C++ interface ----------------------------------------------------------------

razivu::Server &with_functions(razivu::Server &server) {
    return server
        .function("Add", [](int32_t a, int32_t b) { return a + b; })
        .function("DivMod",
                  [](int32_t a, int32_t b) {
                      if (b == 0) {
                          throw razivu::Error("division by zero", RAZIVU_E_NOT_SUPPORTED, {});
                      }
                      return std::tuple{a / b, a % b};
                  })
        .function("Both", [](razivu::Bytes bytes, std::optional<std::string> text, bool flag) {
            return std::tuple{bytes, text, !flag};
        })
        .function("Boom", []() -> int32_t { throw std::logic_error("not a razivu::Error"); });
}

TEST(CxxInterface, typed_calls_and_replies_and_errors_with_the_code_or_the_records_of_the_error_stack) {
    razivu::Server server;
    server.port(0).bind("127.0.0.1").quiet();
    with_functions(server);
    std::thread runner([&server] { server.run(); });
    for (int i = 0; i < 100 && server.listening_port() == 0; ++i) {
        ::usleep(20000);
    }
    const uint16_t port = server.listening_port();
    ASSERT_NE(port, 0);
    {
        razivu::Connection c("127.0.0.1", port);
        EXPECT_EQ(c.call("Add", 2, 3).get<int32_t>(), 5);
        EXPECT_EQ((c.call("DivMod", 7, 2).get<int32_t, int32_t>()), std::tuple(3, 1));
        const razivu::Bytes bytes{0, 0xff, '|'};
        const auto [b, t, f] = c.call("Both", bytes, std::optional<std::string>(), true)
                                   .get<razivu::Bytes, std::optional<std::string>, bool>();
        EXPECT_EQ(b, bytes);
        EXPECT_FALSE(t.has_value()) << "null stays null";
        EXPECT_FALSE(f);
        const std::pair<std::function<void()>, int32_t> refusals[] = {
            {[&c] { c.call("DivMod", 1, 0); }, RAZIVU_E_NOT_SUPPORTED},  // the function's own code
            {[&c] { c.call("Add", "2", 3); }, RAZIVU_E_NOT_SUPPORTED},   // an argument of the wrong type
            {[&c] { c.call("Add", 2); }, RAZIVU_E_NOT_SUPPORTED},        // too few
            {[&c] { c.call("Nope"); }, RAZIVU_E_NO_FUNCTION},
        };
        for (const auto &[call, code] : refusals) {
            try {
                call();
                ADD_FAILURE() << "no error for code " << code;
            } catch (const razivu::Error &e) {
                EXPECT_EQ(e.code(), code) << e.what();
            }
        }
        EXPECT_EQ(c.call("Add", 20, 22).get<int32_t>(), 42) << "the connection goes on";
    }
    // A reply read as the wrong type, and a function that throws what the
    // trampoline catches: the connection's end. Both report the library's records.
    for (const char *function : {"Add", "Boom"}) {
        razivu::Connection c("127.0.0.1", port);
        try {
            std::string text = c.call(function, 1, 2).get<std::string>();
            ADD_FAILURE() << function << " gave " << text;
        } catch (const razivu::Error &e) {
            EXPECT_EQ(e.code(), 0) << e.what();
            EXPECT_FALSE(e.records().empty()) << function;
        }
    }
    EXPECT_THROW(razivu::Connection("127.0.0.1", test::free_port()), razivu::Error);
    server.stop();
    runner.join();
}

}  // namespace
