// The library from many threads: each thread its own call in progress and
// error stack over its own connection, the shared tables under locks, the
// per-thread state freed as threads end, and a fork that finds no lock held.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <razivu/razivu.h>

#include "tests/support/pushes.h"
#include "tests/support/test_env.h"
#include "tests/unit/loopback.h"

namespace {

namespace test = razivu::test;

constexpr bool sanitized = test::under_address_sanitizer || test::under_thread_sanitizer;

// A call of every field kind whose byte array is long enough that the
// message leaves in pieces; the server sends the same fields back after
// return code 10.
struct Call {
    std::string text;
    int32_t number;
    int32_t flag;
    std::string bytes;
};

Call call_of(int thread, int i) {
    return Call{"t" + std::to_string(thread) + "-" + std::to_string(i), thread * 100000 + i, i % 2,
                std::string(900 + static_cast<std::size_t>(i % 50), static_cast<char>('a' + thread))};
}

void pack(const Call &c) {
    PackString(c.text.c_str());
    PackInteger(c.number);
    PackBoolean(c.flag);
    PackByteArray(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    PackByteArray(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    PackString(nullptr);
}

// Reads the fields of a call (or of a reply after its code); false on any failure.
bool unpack(Call &c) {
    char *text = nullptr, *bytes = nullptr, *again = nullptr, *null = nullptr;
    int32_t len = 0, len_again = 0;
    const bool ok = UnpackString(&text) == 0 && UnpackInteger(&c.number) == 0 &&
                    UnpackBoolean(&c.flag) == 0 && UnpackByteArray(&bytes, &len) == 0 &&
                    UnpackByteArray(&again, &len_again) == 0 && UnpackString(&null) == 0 &&
                    null == nullptr && len == len_again;
    if (ok) {
        c.text = text;
        c.bytes.assign(bytes, static_cast<std::size_t>(len));
    }
    UnpackFree(text);
    UnpackFree(bytes);
    UnpackFree(again);
    return ok;
}

// Serves calls on one accepted connection until the client leaves. Replies
// leave in two pieces: without TCP_NODELAY, as on any socket the library did
// not accept itself, the second would wait for the client's delayed ack.
void serve(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SetTransport(COMSend, COMReceive, fd);
    for (char *name = nullptr; UnpackFunctionName(&name) == 0; name = nullptr) {
        UnpackFree(name);
        Call c;
        if (!unpack(c)) {
            break;
        }
        ResetBuffer();
        PackReturnCode(10);
        pack(c);
        SendBuffer();
    }
    test::pop_all();
    test::close_socket(fd);
}

// One client thread: its own connection, calls whose replies must be its
// own, read-ahead on or off, and errors pushed and popped between calls.
int client(int thread, int calls, std::atomic<int> &done) {
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    test::pop_all();
    if (s < 0) {
        return calls;
    }
    COMSetSockReadAhead(s, thread % 2);
    SetTransport(COMSend, COMReceive, s);
    int wrong = 0;
    for (int i = 0; i < calls; ++i) {
        const Call sent = call_of(thread, i);
        ResetBuffer();
        PackFunctionName("Echo");
        pack(sent);
        SendBuffer();
        int32_t code = 0;
        Call got;
        if (UnpackReturnCode(&code) != 0 || code != 10 || !unpack(got) || got.text != sent.text ||
            got.number != sent.number || got.flag != sent.flag || got.bytes != sent.bytes) {
            ++wrong;
        }
        COMPushError("Stress", RAZIVU_E_TRANSFER + thread);
        ErrorRecord rec{};
        if (COMPopError(&rec) != 1 || rec.code != RAZIVU_E_TRANSFER + thread || COMPopError(&rec) != 0) {
            ++wrong;
        }
        ++done;
        if (i % 64 == 0) {
            COMDebugTrace("thread %d call %d\n", thread, i);
            WriteLog("threads.txt", "KQ-DX", RAZIVU_LOG_WARNING, "thread %d call %d", thread, i);
        }
    }
    COMCloseSock(s);
    return wrong;
}

// Every reply is its own call's, whatever the other threads do at once. The
// first calls are traced (the trace file is switched off while they run).
TEST(Threads, each_thread_gets_its_own_replies_and_errors_over_its_own_connection) {
    constexpr int threads = 4;
    const int calls = sanitized ? 500 : 20000;
    COMSetTraceFile((test::root() + "/trace.txt").c_str());
    test::RawListener listener;
    test::use_test_port(listener.port);
    std::vector<std::thread> servers;
    for (int t = 0; t < threads; ++t) {
        servers.emplace_back([&] { serve(listener.accept_one()); });
    }
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] { wrong += client(t, calls, done); });
    }
    while (done < threads * 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    COMSetTraceFile(nullptr);
    for (auto *group : {&clients, &servers}) {
        for (std::thread &t : *group) {
            t.join();
        }
    }
    EXPECT_EQ(wrong.load(), 0) << "of " << threads * calls << " calls";
    const std::string log = test::read_text(test::host("C:\\var\\opt\\TARNEX\\dro\\log\\threads.txt"));
    std::size_t entries = 0;
    for (std::size_t at = log.find("WARNING: thread"); at != std::string::npos; at = log.find("WARNING: thread", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, static_cast<std::size_t>(threads * ((calls + 63) / 64)));
}

std::size_t resident_kib() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

// Threads that start, use the library and end leave nothing behind.
TEST(Threads, state_of_ended_threads_is_freed) {
    const auto churn = [](int n) {
        for (int i = 0; i < n; ++i) {
            std::thread([] {
                ResetBuffer();
                PackFunctionName("Echo");
                COMPushError("Churn", RAZIVU_E_TRANSFER);
            }).join();
        }
    };
    churn(1000);
    const std::size_t before = resident_kib();
    churn(sanitized ? 1000 : 9000);
    if (!sanitized) {  // the sanitizers keep freed memory back on purpose
        EXPECT_LT(resident_kib(), before + 2048) << "KiB resident after 9,000 more threads";
    }
    EXPECT_THAT(test::pop_all(), testing::IsEmpty()) << "the main thread's stack is its own";
}

// A child forked while other threads use the locked tables finds every lock
// free: each child uses them and exits at once.
TEST(Threads, a_child_forked_amid_locked_work_finds_every_lock_free) {
    if (test::under_address_sanitizer) {
        GTEST_SKIP() << "the AddressSanitizer allocator of clang 14 holds no lock across a fork: a child "
                        "whose parent's thread was allocating waits in the sanitizer for ever";
    }
    test::RawListener listener;
    const int32_t s = test::raw_connect(listener.port);
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop) {
            COMSetSockReadAhead(s, 1);
            COMSetSockReadAhead(s, 0);
            COMSetTraceFile(nullptr);
            WriteLog("busy.txt", "KQ-DX", RAZIVU_LOG_WARNING, "busy");
        }
    });
    int failed = 0;
    for (int i = 0; i < 200; ++i) {
        const pid_t child = test::run_child([&] {
            COMSetSockReadAhead(s, 1);
            COMSetTraceFile(nullptr);
            WriteLog("child.txt", "KQ-DX", RAZIVU_LOG_WARNING, "child");
            return COMGetSockReadAhead(s) == 0 ? 0 : 1;
        });
        failed += test::wait_child(child, 10) != 0;
    }
    stop = true;
    busy.join();
    test::close_socket(s);
    EXPECT_EQ(failed, 0) << "of 200 children";
}

}  // namespace
