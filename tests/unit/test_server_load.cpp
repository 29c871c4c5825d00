// `razivu serve` under load, as a real process on 127.0.0.1: 20 clients make
// 500 Echo calls each and check every reply, while other clients hang up in
// the middle of calls, stall, and send garbage. Nothing may be lost and the
// server must still answer afterwards. Client processes use the library, so
// each runs in a process of its own.
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tool_process.h"

namespace {

namespace test = razivu::test;

constexpr int clients = 20;
constexpr int calls_per_client = 500;
constexpr int calls_per_connection = 100;  // clients reconnect now and then
constexpr int troublemakers = 4;
constexpr int mischief_per_troublemaker = 40;
constexpr int load_deadline_seconds = 120;
constexpr int32_t max_field_data = 991;

// Exit statuses of a client process.
constexpr int client_ok = 0;
constexpr int client_no_connection = 10;
constexpr int client_wrong_reply = 11;

struct Value {
    char kind;  // 's', 'i', 'b' or 'a'
    bool null = false;
    int32_t number = 0;
    std::string data;
};

Value random_value(std::mt19937 &rng) {
    std::uniform_int_distribution<int> pick(0, 9);
    Value v;
    const int k = pick(rng);
    if (k < 3) {
        v.kind = 's';
        v.null = k == 0;
        const int len = std::uniform_int_distribution<int>(0, 200)(rng);
        for (int i = 0; i < len; ++i) {
            v.data += static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
        }
    } else if (k < 5) {
        v.kind = 'i';
        v.number = std::uniform_int_distribution<int32_t>(-999999, 9999999)(rng);
    } else if (k < 6) {
        v.kind = 'b';
        v.number = pick(rng);
    } else {
        v.kind = 'a';
        v.null = k == 6;
        // Now and then big enough that a call leaves in several pieces.
        const int len = std::uniform_int_distribution<int>(0, k == 9 ? max_field_data : 40)(rng);
        for (int i = 0; i < len; ++i) {
            v.data += static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        }
    }
    return v;
}

void pack_value(const Value &v) {
    switch (v.kind) {
    case 's': PackString(v.null ? nullptr : v.data.c_str()); break;
    case 'i': PackInteger(v.number); break;
    case 'b': PackBoolean(v.number); break;
    default:
        PackByteArray(v.null ? nullptr : v.data.data(), static_cast<int32_t>(v.data.size()));
    }
}

bool reply_matches(const Value &v) {
    char *text = nullptr;
    int32_t number = 0;
    int32_t count = 0;
    bool ok = false;
    switch (v.kind) {
    case 's':
        ok = UnpackString(&text) == 0 && (v.null ? text == nullptr : text != nullptr && v.data == text);
        break;
    case 'i': ok = UnpackInteger(&number) == 0 && number == v.number; break;
    case 'b': ok = UnpackBoolean(&number) == 0 && number == v.number; break;
    default:
        if (v.null) {  // the decoder refuses the null value after reading it whole
            ok = UnpackByteArray(&text, &count) == -1 && count == -1;
            test::pop_all();
        } else {
            ok = UnpackByteArray(&text, &count) == 0 &&
                 std::string(text, static_cast<std::size_t>(count)) == v.data;
        }
    }
    UnpackFree(text);
    return ok;
}

bool echo_call(std::mt19937 &rng) {
    std::vector<Value> values(static_cast<std::size_t>(std::uniform_int_distribution<int>(0, 8)(rng)));
    for (Value &v : values) {
        v = random_value(rng);
    }
    ResetBuffer();
    PackFunctionName("Echo");
    for (const Value &v : values) {
        pack_value(v);
    }
    SendBuffer();
    ResetBuffer();
    int32_t code = 0;
    if (UnpackReturnCode(&code) != 0 || code != RAZIVU_OK) {
        return false;
    }
    for (const Value &v : values) {
        if (!reply_matches(v)) {
            return false;
        }
    }
    return true;
}

int32_t connect_to(uint16_t port) {
    test::use_test_port(port);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    test::pop_all();
    SetTransport(COMSend, COMReceive, s);
    return s;
}

int client(uint16_t port, int id) {
    std::mt19937 rng(static_cast<unsigned>(id) * 7919u + 17u);
    for (int done = 0; done < calls_per_client;) {
        const int32_t s = connect_to(port);
        if (s < 0) {
            return client_no_connection;
        }
        for (int i = 0; i < calls_per_connection; ++i, ++done) {
            if (!echo_call(rng)) {
                return client_wrong_reply;
            }
        }
        COMCloseSock(s);
    }
    return client_ok;
}

// Connections that end badly, in turn.
int troublemaker(uint16_t port, int id) {
    const std::string call = "#00004|Echo|s00005|hello|i00002|42|";
    std::mt19937 rng(static_cast<unsigned>(id));
    for (int i = 0; i < mischief_per_troublemaker; ++i) {
        const int fd = test::raw_connect(port);
        if (fd < 0) {
            continue;
        }
        std::string garbage(static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 3000)(rng)), '\0');
        for (char &c : garbage) {
            c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        }
        switch (i % 6) {
        case 0: break;                                             // hang up at once
        case 1: test::raw_send(fd, call.substr(0, 20)); break;     // mid-field
        case 2: test::raw_send(fd, garbage); break;                // not fields at all
        case 3: test::raw_send(fd, "#00004|Echo|s99999|xx"); break;  // a length no one holds
        case 4: test::raw_send(fd, call); break;                   // gone before the reply
        default:                                                   // stall, then go
            test::raw_send(fd, call.substr(0, 15));
            ::usleep(200000);
        }
        ::close(fd);
    }
    return 0;
}

TEST(ServeLoad, twenty_clients_of_500_echo_calls_are_all_answered_amid_trouble) {
    if (test::tool_path().empty()) {
        GTEST_SKIP() << "the razivu tool is not built beside the tests";
    }
    test::ServeProcess server;
    ASSERT_TRUE(server.start({"--workers", "64", "--idle", "20"})) << server.banner;

    std::vector<pid_t> pids;
    for (int id = 0; id < clients; ++id) {
        pids.push_back(test::run_child([&server, id] { return client(server.port, id); }));
    }
    std::vector<pid_t> trouble;
    for (int id = 0; id < troublemakers; ++id) {
        trouble.push_back(test::run_child([&server, id] { return troublemaker(server.port, id); }));
    }
    for (pid_t pid : trouble) {
        EXPECT_EQ(test::wait_child(pid, load_deadline_seconds), 0);
    }
    int answered = 0;
    for (pid_t pid : pids) {
        const int status = test::wait_child(pid, load_deadline_seconds);
        EXPECT_EQ(status, client_ok);
        answered += status == client_ok ? calls_per_client : 0;
    }
    EXPECT_EQ(answered, clients * calls_per_client);

    std::mt19937 rng(4711);
    const int32_t s = connect_to(server.port);
    ASSERT_GE(s, 0);
    EXPECT_TRUE(echo_call(rng)) << "the server still answers";
    COMCloseSock(s);
    EXPECT_EQ(server.stop(), 0);
}

TEST(ServeLoad, the_worker_bound_holds_a_connection_back_until_one_ends) {
    if (test::tool_path().empty()) {
        GTEST_SKIP() << "the razivu tool is not built beside the tests";
    }
    test::ServeProcess server;
    ASSERT_TRUE(server.start({"--workers", "1"})) << server.banner;
    const int first = test::raw_connect(server.port);
    ASSERT_TRUE(test::raw_send(first, "#00004|Echo|"));
    EXPECT_EQ(test::raw_recv(first, 7), "r00010|");

    const int second = test::raw_connect(server.port);  // the kernel queues it
    ASSERT_TRUE(test::raw_send(second, "#00004|Echo|i00001|7|"));
    pollfd p{second, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 300), 0) << "served beyond the bound of one worker";
    ::close(first);
    EXPECT_EQ(test::raw_recv(second, 16), "r00010|i00001|7|");
    ::close(second);
}

}  // namespace
