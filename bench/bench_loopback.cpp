// Round trips over 127.0.0.1: the library's calls against a raw TCP
// ping-pong of the same byte counts on a persistent connection, measured in
// the same run. Both servers run in child processes (the library keeps its
// state per process); the client is this process.
//
// Calls: the worked-example Echo (59 bytes), a 500-byte call carrying one
// string, and 2000- and 8000-byte calls of byte arrays, which leave in pieces
// of at most 999 bytes; the replies have the same fields with the function
// name replaced by return code 10. Each runs faithfully (two exact-count
// reads per field) and with read-ahead on both ends (rows marked "+ra"). The
// multi-piece calls run once more with TCP_NODELAY off on both ends, to show
// what it saves.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sched.h>

#include "rpc/transport_internal.h"
#include "tests/unit/loopback.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace platform = razivu::platform;
namespace test = razivu::test;

constexpr int32_t text_len = 480;      // 12 + (480 + 8) bytes: a 500-byte call
constexpr int32_t blob_len = 986;      // 12 + 10 + 2 x (986 + 8): 2010 bytes
constexpr int32_t big_blob_len = 988;  // 12 + 10 + 8 x (988 + 8): 7990 bytes
// Iterations of the runs without TCP_NODELAY: each call stalls for tens of ms.
constexpr int64_t nagle_iterations = 40;
constexpr double min_seconds = 1.0;

enum class Shape { worked, text, blobs };

struct Payload {
    const char *label;
    const char *function;
    Shape shape;
    int32_t blobs;
    int32_t blob_len;
    std::string call;   // the bytes of the call on the wire
    std::string reply;  // the bytes of the reply
};

const char worked_bytes[] = {'\0', '\xff'};

void pack_payload(const Payload &p, bool as_reply) {
    ResetBuffer();
    if (as_reply) {
        PackReturnCode(RAZIVU_OK);
    } else {
        PackFunctionName(p.function);
    }
    if (p.shape == Shape::worked) {
        PackString("abc");
        PackString(nullptr);
        PackInteger(42);
        PackBoolean(1);
        PackByteArray(worked_bytes, 2);
    } else if (p.shape == Shape::text) {
        PackString(std::string(text_len, 't').c_str());
    } else {
        PackInteger(p.blobs);
        const std::string blob(static_cast<std::size_t>(p.blob_len), 'b');
        for (int32_t i = 0; i < p.blobs; ++i) {
            PackByteArray(blob.data(), p.blob_len);
        }
    }
    SendBuffer();
}

// Decodes the fields after the function name or the return code.
bool unpack_body(Shape shape) {
    char *text = nullptr;
    char *null_text = nullptr;
    char *bytes = nullptr;
    int32_t number = 0;
    int32_t flag = 0;
    int32_t count = 0;
    bool ok = true;
    if (shape == Shape::worked) {
        ok = UnpackString(&text) == 0 && UnpackString(&null_text) == 0 &&
             UnpackInteger(&number) == 0 && UnpackBoolean(&flag) == 0 &&
             UnpackByteArray(&bytes, &count) == 0;
    } else if (shape == Shape::text) {
        ok = UnpackString(&text) == 0;
    } else {
        ok = UnpackInteger(&number) == 0;
        for (int32_t i = 0; ok && i < number; ++i) {
            ok = UnpackByteArray(&bytes, &count) == 0;
            UnpackFree(bytes);
            bytes = nullptr;
        }
    }
    UnpackFree(text);
    UnpackFree(bytes);
    return ok;
}

std::string &sink() {
    static std::string bytes;
    return bytes;
}

std::string capture(const Payload &p, bool as_reply) {
    sink().clear();
    SetTransport(
        [](int32_t, char *b, int32_t n) {
            sink().append(b, static_cast<std::size_t>(n));
            return n;
        },
        nullptr, -1);
    pack_payload(p, as_reply);
    return sink();
}

std::vector<Payload> &payloads() {
    static std::vector<Payload> all = [] {
        std::vector<Payload> out = {
            {"echo", "Echo", Shape::worked, 0, 0, {}, {}},
            {"text500", "Text", Shape::text, 0, 0, {}, {}},
            {"blobs2000", "Blobs2000", Shape::blobs, 2, blob_len, {}, {}},
            {"blobs8000", "Blobs8000", Shape::blobs, 8, big_blob_len, {}, {}},
        };
        for (Payload &p : out) {
            p.call = capture(p, false);
            p.reply = capture(p, true);
        }
        return out;
    }();
    return all;
}

const Payload *find_payload(const std::string &function) {
    for (const Payload &p : payloads()) {
        if (function == p.function) {
            return &p;
        }
    }
    return nullptr;
}

// ---- The servers --------------------------------------------------------------------------

// Calls on one connection until the client leaves. "Setup" (two booleans)
// switches TCP_NODELAY and read-ahead on this end of the connection.
void serve_library_connection(int32_t conn) {
    SetTransport(COMSend, COMReceive, conn);
    for (char *name = nullptr; UnpackFunctionName(&name) == 0; name = nullptr) {
        const std::string function = name;
        UnpackFree(name);
        const Payload *p = find_payload(function);
        if (function == "Setup") {
            int32_t nodelay = 1;
            int32_t read_ahead = 0;
            UnpackBoolean(&nodelay);
            UnpackBoolean(&read_ahead);
            platform::net_calls().set_option(conn, platform::SocketOption::no_delay, nodelay);
            COMSetSockReadAhead(conn, read_ahead);
            ResetBuffer();
            PackReturnCode(RAZIVU_OK);
            SendBuffer();
        } else if (p == nullptr || !unpack_body(p->shape)) {
            break;
        } else {
            pack_payload(*p, true);
        }
    }
    COMCloseSock(conn);
    test::pop_all();
}

int library_server(int32_t listening) {
    for (;;) {
        const int32_t conn = COMWaitForConnectingSock(listening);
        if (conn >= 0) {
            serve_library_connection(conn);
        }
    }
}

bool recv_exact(int fd, char *buf, std::size_t n) {
    for (std::size_t got = 0; got < n;) {
        const ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// The raw peer: a header of two byte counts, then for every call exactly the
// first count in and the second count out, in one send.
void serve_raw_connection(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    uint32_t counts[2] = {};
    if (recv_exact(fd, reinterpret_cast<char *>(counts), sizeof counts)) {
        std::string in(counts[0], '\0');
        const std::string out(counts[1], 'r');
        while (recv_exact(fd, in.data(), in.size()) && test::raw_send(fd, out)) {
        }
    }
    ::close(fd);
}

int raw_server(int listening_fd) {
    for (;;) {
        const int fd = ::accept(listening_fd, nullptr, nullptr);
        if (fd >= 0) {
            serve_raw_connection(fd);
        }
    }
}

// ---- Placement ----------------------------------------------------------------------------
//
// On a virtual machine a wake-up on another core costs tens of microseconds,
// and where the scheduler puts each process decides the figures. The runs
// therefore pin the client and the servers: all on one core (the cost of
// the calls themselves) or the client on one core and the servers on
// another (what a client on one machine and a server on another also pay);
// a last run leaves the choice to the scheduler, as an ordinary program does.

constexpr int any_cpu = -1;

struct Placement {
    const char *name;
    const char *suffix;  // of the benchmark names
    int client_cpu;      // or any_cpu
    int server_cpu;
};

const Placement one_core{"one core", "/one_core", 0, 0};
const Placement two_cores{"two cores", "/two_cores", 0, 1};
const Placement unpinned{"scheduler's choice", "/unpinned", any_cpu, any_cpu};

void pin_to(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    for (int c = 0; c < n; ++c) {
        if (cpu == any_cpu || c == cpu) {
            CPU_SET(c, &set);
        }
    }
    ::sched_setaffinity(0, sizeof set, &set);
}

// ---- Measuring ----------------------------------------------------------------------------

struct Result {
    double calls_per_second = 0;
    double p50_us = 0;
    double p99_us = 0;
};
// Keyed by placement, then "<payload>", "raw/<payload>" or "<payload>/nagle".
std::map<std::string, std::map<std::string, Result>> results;
// Marks the keys of the runs with read-ahead on both ends.
constexpr const char *read_ahead_suffix = "+ra";

// The servers of the running placement.
struct Servers {
    const Placement *placement = nullptr;
    uint16_t library = 0;  // ports in host byte order
    uint16_t raw = 0;
    pid_t library_pid = -1;
    pid_t raw_pid = -1;
};
Servers servers;

void record(benchmark::State &state, const std::string &key, std::vector<double> &ns,
            const std::string &counter_prefix) {
    if (ns.empty()) {
        return;
    }
    std::sort(ns.begin(), ns.end());
    double total = 0;
    for (double v : ns) {
        total += v;
    }
    Result r;
    r.calls_per_second = static_cast<double>(ns.size()) / (total / 1e9);
    r.p50_us = ns[ns.size() / 2] / 1e3;
    r.p99_us = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1e3;
    results[servers.placement->name][key] = r;
    state.counters[counter_prefix + "calls/s"] = r.calls_per_second;
    state.counters[counter_prefix + "p50_us"] = r.p50_us;
    state.counters[counter_prefix + "p99_us"] = r.p99_us;
}

double elapsed_ns(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// One library call: send, then decode the reply field by field.
bool library_call(const Payload &p) {
    pack_payload(p, false);
    ResetBuffer();
    int32_t code = 0;
    return UnpackReturnCode(&code) == 0 && code == RAZIVU_OK && unpack_body(p.shape);
}

// A library connection whose both ends use TCP_NODELAY and hold pieces back,
// or neither, and read ahead or not.
int32_t library_connect(bool low_latency, bool read_ahead) {
    razivu::transport::set_low_latency(low_latency);
    test::use_test_port(servers.library);
    const int32_t s = COMConnectToServerSock("127.0.0.1", COMGetServiceName());
    test::pop_all();
    if (s < 0) {
        return -1;
    }
    SetTransport(COMSend, COMReceive, s);
    ResetBuffer();
    PackFunctionName("Setup");
    PackBoolean(low_latency ? 1 : 0);
    PackBoolean(read_ahead ? 1 : 0);
    SendBuffer();
    ResetBuffer();
    int32_t code = 0;
    if (UnpackReturnCode(&code) != 0) {
        return -1;
    }
    COMSetSockReadAhead(s, read_ahead ? 1 : 0);
    return s;
}

// A raw connection that has told the server the byte counts of p.
int raw_connect(const Payload &p) {
    const int fd = test::raw_connect(servers.raw);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const uint32_t counts[2] = {static_cast<uint32_t>(p.call.size()),
                                static_cast<uint32_t>(p.reply.size())};
    const std::string header(reinterpret_cast<const char *>(counts), sizeof counts);
    if (fd >= 0 && !test::raw_send(fd, header)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Each iteration makes one library call and one raw round trip of the same
// byte counts, one right after the other, so that both see the same load on
// a shared machine.
bool use_placement(const Placement &where);

void BM_call_and_raw(benchmark::State &state, const Payload *p, const Placement *where,
                     bool read_ahead) {
    if (!use_placement(*where)) {
        state.SkipWithError("the servers could not be started");
        return;
    }
    const int32_t s = library_connect(true, read_ahead);
    const int fd = raw_connect(*p);
    if (s < 0 || fd < 0) {
        state.SkipWithError("no connection to the servers");
        return;
    }
    std::string reply(p->reply.size(), '\0');
    std::vector<double> lib_ns;
    std::vector<double> raw_ns;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!library_call(*p)) {
            state.SkipWithError("a call failed");
            break;
        }
        lib_ns.push_back(elapsed_ns(start));
        start = Clock::now();
        if (!test::raw_send(fd, p->call) || !recv_exact(fd, reply.data(), reply.size())) {
            state.SkipWithError("the raw peer went away");
            break;
        }
        raw_ns.push_back(elapsed_ns(start));
    }
    COMCloseSock(s);
    ::close(fd);
    const std::string key = std::string(p->label) + (read_ahead ? read_ahead_suffix : "");
    record(state, "raw/" + key, raw_ns, "raw_");
    record(state, key, lib_ns, "");
}

void BM_call_with_nagle(benchmark::State &state, const Payload *p, const Placement *where) {
    if (!use_placement(*where)) {
        state.SkipWithError("the servers could not be started");
        return;
    }
    const int32_t s = library_connect(false, false);
    if (s < 0) {
        state.SkipWithError("no connection to the library server");
        return;
    }
    std::vector<double> ns;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!library_call(*p)) {
            state.SkipWithError("a call failed");
            break;
        }
        ns.push_back(elapsed_ns(start));
    }
    COMCloseSock(s);
    razivu::transport::set_low_latency(true);
    record(state, std::string(p->label) + "/nagle", ns, "");
}

void register_benchmarks(const Placement &where, bool with_nagle) {
    const std::string suffix = where.suffix;
    for (const bool read_ahead : {false, true}) {
        const std::string mode = read_ahead ? "call_read_ahead_and_raw/" : "call_and_raw/";
        for (const Payload &p : payloads()) {
            benchmark::RegisterBenchmark((mode + p.label + suffix).c_str(), BM_call_and_raw, &p,
                                         &where, read_ahead)
                ->MinTime(min_seconds)
                ->UseRealTime();
        }
    }
    for (const Payload &p : payloads()) {
        if (with_nagle && p.shape == Shape::blobs) {
            benchmark::RegisterBenchmark(
                ("call_without_nodelay/" + std::string(p.label) + suffix).c_str(),
                BM_call_with_nagle, &p, &where)
                ->Iterations(nagle_iterations)
                ->UseRealTime();
        }
    }
}

void print_row(const char *label, const std::string &bytes, const Result &lib, const Result *raw) {
    std::printf("%-13s %11s | %10.0f %8.1f %8.1f", label, bytes.c_str(), lib.calls_per_second,
                lib.p50_us, lib.p99_us);
    if (raw != nullptr) {
        std::printf(" | %10.0f %8.1f %8.1f | %5.2f\n", raw->calls_per_second, raw->p50_us,
                    raw->p99_us,
                    raw->calls_per_second > 0 ? lib.calls_per_second / raw->calls_per_second : 0.0);
    } else {
        std::printf("\n");
    }
}

void print_summary() {
    std::printf("\nround trips over 127.0.0.1: calls per second, p50 and p99 in microseconds;\n"
                "ratio = library calls/s over raw ping-pong calls/s, measured side by side\n");
    for (const auto &[placement, rows] : results) {
        std::printf("\n%s\n%-13s %11s | %10s %8s %8s | %10s %8s %8s | %s\n", placement.c_str(),
                    "call", "bytes", "library", "p50", "p99", "raw", "p50", "p99", "ratio");
        for (const char *mode : {"", read_ahead_suffix}) {
            for (const Payload &p : payloads()) {
                const std::string bytes =
                    std::to_string(p.call.size()) + "/" + std::to_string(p.reply.size());
                const std::string key = std::string(p.label) + mode;
                const auto lib = rows.find(key);
                const auto raw = rows.find("raw/" + key);
                if (lib != rows.end() && raw != rows.end()) {
                    print_row(key.c_str(), bytes, lib->second, &raw->second);
                }
            }
        }
        for (const Payload &p : payloads()) {
            const auto nagle = rows.find(std::string(p.label) + "/nagle");
            if (nagle != rows.end()) {
                print_row(p.label, "no NODELAY", nagle->second, nullptr);
            }
        }
    }
}

// The library's error pushes write errstack.txt below RAZIVU_PREFIX: keep it
// in a folder of this run, not in the user's tree.
std::string private_prefix() {
    char pattern[] = "/tmp/razivu-bench.XXXXXX";
    const char *dir = ::mkdtemp(pattern);
    std::string prefix = dir != nullptr ? dir : "/tmp";
    ::setenv("RAZIVU_PREFIX", (prefix + "/prefix").c_str(), 1);
    ::unsetenv("RAZIVU_DEBUG");
    return prefix;
}

void stop_servers() {
    for (pid_t pid : {servers.library_pid, servers.raw_pid}) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    servers.library_pid = servers.raw_pid = -1;
    servers.placement = nullptr;
}

bool start_servers(const Placement &where) {
    servers.placement = &where;
    servers.library = test::free_port();
    test::use_test_port(servers.library);
    const int32_t listening = COMDoMakeListenSock();
    test::pop_all();
    if (listening < 0) {
        return false;
    }
    const int cpu = where.server_cpu;
    servers.library_pid = test::run_child([listening, cpu] {
        pin_to(cpu);
        return library_server(listening);
    });
    COMCloseSock(listening);
    test::RawListener raw;
    servers.raw = raw.port;
    const int raw_fd = raw.fd;
    servers.raw_pid = test::run_child([raw_fd, cpu] {
        pin_to(cpu);
        return raw_server(raw_fd);
    });
    pin_to(where.client_cpu);
    return servers.library_pid > 0 && servers.raw_pid > 0;
}

// Restarts the servers when the placement changes; benchmarks run in the
// order they were registered, one placement after the other.
bool use_placement(const Placement &where) {
    if (servers.placement == &where) {
        return true;
    }
    stop_servers();
    return start_servers(where);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const std::string prefix = private_prefix();
    payloads();
    const bool two = ::sysconf(_SC_NPROCESSORS_ONLN) > 1;
    register_benchmarks(one_core, !two);
    if (two) {
        register_benchmarks(two_cores, true);
        register_benchmarks(unpinned, false);
    }
    benchmark::RunSpecifiedBenchmarks();
    stop_servers();
    print_summary();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(prefix, ec);
    return 0;
}
