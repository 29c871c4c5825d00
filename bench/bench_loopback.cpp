// Round trips over 127.0.0.1: the library's calls against a raw TCP
// ping-pong of the same byte counts on a persistent connection, measured in
// the same run. Both servers run in child processes (the library keeps its
// state per process); the client is this process.
//
// Calls: the worked-example Echo (59 bytes), a 500-byte call carrying one
// string, and 2000- and 8000-byte calls of byte arrays, which leave in pieces
// of at most 999 bytes. The server decodes every field and checks its value.
// Two reply shapes: the same fields as the call with the function name
// replaced by return code 10 (rows marked "=", the kernel's share doubled),
// and the 16 bytes most real calls get back, return code 10 and the number
// of fields decoded (rows marked "16"). Each runs faithfully (two exact-count
// reads per field) and with read-ahead on both ends (rows marked "+ra"). The
// multi-piece calls run once more with TCP_NODELAY off on both ends, to show
// what it saves. A counting allocator gives the allocations per round trip
// of both ends, the blocks the decoders hand to the caller apart.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/mman.h>

#include "rpc/message_internal.h"
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
// The reply as large as the call, or return code and one integer.
enum class Reply { echoed, small };

struct Payload {
    const char *label;
    const char *function;
    Shape shape;
    int32_t blobs;
    int32_t blob_len;
    std::string call;         // the bytes of the call on the wire
    std::string reply;        // the bytes of the echoed reply
    std::string small_reply;  // the bytes of the small reply
};

const char worked_bytes[] = {'\0', '\xff'};

// ---- Counting allocations -----------------------------------------------------------------
//
// malloc is replaced in this program (operator new reaches it too) and the
// decoders' blocks come through the message layer's allocation seam, so both
// ends count: the client around its library calls, the server while it
// serves. The counters live in memory shared with the forked servers; each
// has one writer, so a count is a plain load and store, which adds no locked
// instruction to the library's side of the measurement.

enum Role { client_role, server_role, roles };

struct AllocCounts {
    std::atomic<uint64_t> allocations[roles];  // every malloc, calloc and realloc
    std::atomic<uint64_t> blocks[roles];       // of them, decoded blocks handed to the caller
};
AllocCounts *alloc_counts = nullptr;
Role role = client_role;
bool counting = false;

AllocCounts &shared_counts() {
    if (alloc_counts == nullptr) {
        void *page = ::mmap(nullptr, sizeof(AllocCounts), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        alloc_counts = new (page) AllocCounts{};
    }
    return *alloc_counts;
}

void count(std::atomic<uint64_t> &counter) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void note_allocation() {
    if (counting) {
        count(alloc_counts->allocations[role]);
    }
}

void *counted_block(std::size_t n) {
    if (counting) {
        count(alloc_counts->blocks[role]);
    }
    return std::malloc(n);
}

// The data of the text and byte-array fields, made once.
const std::string &text_value() {
    static const std::string text(text_len, 't');
    return text;
}
const std::string &blob_value() {
    static const std::string blob(big_blob_len, 'b');
    return blob;
}

// Fields after the function name or the return code.
int32_t field_count(const Payload &p) {
    return p.shape == Shape::worked ? 5 : p.shape == Shape::text ? 1 : 1 + p.blobs;
}

void pack_small_reply(const Payload &p) {
    ResetBuffer();
    PackReturnCode(RAZIVU_OK);
    PackInteger(field_count(p));
    SendBuffer();
}

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
        PackString(text_value().c_str());
    } else {
        PackInteger(p.blobs);
        for (int32_t i = 0; i < p.blobs; ++i) {
            PackByteArray(blob_value().data(), p.blob_len);
        }
    }
    SendBuffer();
}

bool same_bytes(const char *block, int32_t count, const char *expected, int32_t len) {
    return block != nullptr && count == len && std::memcmp(block, expected, static_cast<std::size_t>(len)) == 0;
}

// Decodes the fields after the function name or the return code and checks
// their values, as a real server does before it acts on them.
bool unpack_body(const Payload &p) {
    char *text = nullptr;
    char *null_text = nullptr;
    char *bytes = nullptr;
    int32_t number = 0;
    int32_t flag = 0;
    int32_t count = 0;
    bool ok = true;
    if (p.shape == Shape::worked) {
        ok = UnpackString(&text) == 0 && UnpackString(&null_text) == 0 &&
             UnpackInteger(&number) == 0 && UnpackBoolean(&flag) == 0 &&
             UnpackByteArray(&bytes, &count) == 0 && text != nullptr &&
             std::strcmp(text, "abc") == 0 && null_text == nullptr && number == 42 && flag == 1 &&
             same_bytes(bytes, count, worked_bytes, 2);
    } else if (p.shape == Shape::text) {
        ok = UnpackString(&text) == 0 && text != nullptr && text_value() == text;
    } else {
        ok = UnpackInteger(&number) == 0 && number == p.blobs;
        for (int32_t i = 0; ok && i < number; ++i) {
            ok = UnpackByteArray(&bytes, &count) == 0 &&
                 same_bytes(bytes, count, blob_value().data(), p.blob_len);
            UnpackFree(bytes);
            bytes = nullptr;
        }
    }
    UnpackFree(text);
    UnpackFree(null_text);
    UnpackFree(bytes);
    return ok;
}

// Decodes the reply to a call of p after its return code.
bool unpack_reply(const Payload &p, Reply shape) {
    int32_t fields = 0;
    return shape == Reply::echoed ? unpack_body(p)
                                  : UnpackInteger(&fields) == 0 && fields == field_count(p);
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
            {"echo", "Echo", Shape::worked, 0, 0, {}, {}, {}},
            {"text500", "Text", Shape::text, 0, 0, {}, {}, {}},
            {"blobs2000", "Blobs2000", Shape::blobs, 2, blob_len, {}, {}, {}},
            {"blobs8000", "Blobs8000", Shape::blobs, 8, big_blob_len, {}, {}, {}},
        };
        for (Payload &p : out) {
            p.call = capture(p, false);
            p.reply = capture(p, true);
            sink().clear();
            pack_small_reply(p);
            p.small_reply = sink();
        }
        return out;
    }();
    return all;
}

const Payload *find_payload(const char *function) {
    for (const Payload &p : payloads()) {
        if (std::strcmp(function, p.function) == 0) {
            return &p;
        }
    }
    return nullptr;
}

// ---- The servers --------------------------------------------------------------------------

// Answers "Setup" (three booleans), which switches TCP_NODELAY, read-ahead
// and small replies on this end of the connection.
void set_up_connection(int32_t conn, Reply *reply) {
    int32_t nodelay = 1;
    int32_t read_ahead = 0;
    int32_t small = 0;
    UnpackBoolean(&nodelay);
    UnpackBoolean(&read_ahead);
    UnpackBoolean(&small);
    platform::net_calls().set_option(conn, platform::SocketOption::no_delay, nodelay);
    COMSetSockReadAhead(conn, read_ahead);
    *reply = small != 0 ? Reply::small : Reply::echoed;
    ResetBuffer();
    PackReturnCode(RAZIVU_OK);
    SendBuffer();
}

// Decodes and answers one call; false when the client left or sent
// something unexpected. Out of line, as library_call, so that a profile
// shows the cost of one call on each end.
[[gnu::noinline]] bool serve_call(int32_t conn, Reply *reply) {
    char *name = nullptr;
    if (UnpackFunctionName(&name) != 0) {
        return false;
    }
    const Payload *p = find_payload(name);
    const bool setup = std::strcmp(name, "Setup") == 0;
    UnpackFree(name);
    if (setup) {
        set_up_connection(conn, reply);
        return true;
    }
    if (p == nullptr || !unpack_body(*p)) {
        return false;
    }
    if (*reply == Reply::small) {
        pack_small_reply(*p);
    } else {
        pack_payload(*p, true);
    }
    return true;
}

// Calls on one connection until the client leaves.
void serve_library_connection(int32_t conn) {
    SetTransport(COMSend, COMReceive, conn);
    Reply reply = Reply::echoed;
    counting = true;
    while (serve_call(conn, &reply)) {
    }
    counting = false;
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
    double allocations = -1;  // per round trip on both ends, blocks excluded; -1 if not counted
    double blocks = 0;        // decoded blocks handed to the caller per round trip, both ends
};
// Keyed by placement, then "<run>", "raw/<run>" or "<payload>/nagle", where a
// run is "<payload><mode><reply>".
std::map<std::string, std::map<std::string, Result>> results;
// Marks the keys of the runs with read-ahead on both ends.
constexpr const char *read_ahead_suffix = "+ra";
const char *reply_suffix(Reply reply) {
    return reply == Reply::small ? " 16" : " =";
}

// The servers of the running placement.
struct Servers {
    const Placement *placement = nullptr;
    uint16_t library = 0;  // ports in host byte order
    uint16_t raw = 0;
    pid_t library_pid = -1;
    pid_t raw_pid = -1;
};
Servers servers;

Result &record(benchmark::State &state, const std::string &key, std::vector<double> &ns,
               const std::string &counter_prefix) {
    Result &r = results[servers.placement->name][key];
    if (ns.empty()) {
        return r;
    }
    std::sort(ns.begin(), ns.end());
    double total = 0;
    for (double v : ns) {
        total += v;
    }
    r.calls_per_second = static_cast<double>(ns.size()) / (total / 1e9);
    r.p50_us = ns[ns.size() / 2] / 1e3;
    r.p99_us = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1e3;
    state.counters[counter_prefix + "calls/s"] = r.calls_per_second;
    state.counters[counter_prefix + "p50_us"] = r.p50_us;
    state.counters[counter_prefix + "p99_us"] = r.p99_us;
    return r;
}

double elapsed_ns(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// One library call: send, then decode the reply field by field.
[[gnu::noinline]] bool library_call(const Payload &p, Reply reply) {
    counting = true;
    pack_payload(p, false);
    ResetBuffer();
    int32_t code = 0;
    const bool ok = UnpackReturnCode(&code) == 0 && code == RAZIVU_OK && unpack_reply(p, reply);
    counting = false;
    return ok;
}

// A library connection whose both ends use TCP_NODELAY and hold pieces back,
// or neither, read ahead or not, and get the small reply or the echoed one.
int32_t library_connect(bool low_latency, bool read_ahead, Reply reply) {
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
    PackBoolean(reply == Reply::small ? 1 : 0);
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
int raw_connect(const Payload &p, Reply reply) {
    const int fd = test::raw_connect(servers.raw);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string &answer = reply == Reply::small ? p.small_reply : p.reply;
    const uint32_t counts[2] = {static_cast<uint32_t>(p.call.size()),
                                static_cast<uint32_t>(answer.size())};
    const std::string header(reinterpret_cast<const char *>(counts), sizeof counts);
    if (fd >= 0 && !test::raw_send(fd, header)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Allocations of both ends so far: every one, and the decoded blocks.
std::pair<uint64_t, uint64_t> allocations_so_far() {
    const AllocCounts &c = shared_counts();
    return {c.allocations[client_role] + c.allocations[server_role],
            c.blocks[client_role] + c.blocks[server_role]};
}

// Calls before the measured ones, so that buffers have grown to their size.
constexpr int warm_up_calls = 16;

// Each iteration makes one library call and one raw round trip of the same
// byte counts, one right after the other, so that both see the same load on
// a shared machine.
bool use_placement(const Placement &where);

void BM_call_and_raw(benchmark::State &state, const Payload *p, const Placement *where,
                     bool read_ahead, Reply reply) {
    if (!use_placement(*where)) {
        state.SkipWithError("the servers could not be started");
        return;
    }
    const int32_t s = library_connect(true, read_ahead, reply);
    const int fd = raw_connect(*p, reply);
    if (s < 0 || fd < 0) {
        state.SkipWithError("no connection to the servers");
        return;
    }
    bool ok = true;
    for (int i = 0; ok && i < warm_up_calls; ++i) {
        ok = library_call(*p, reply);
    }
    std::string answer(reply == Reply::small ? p->small_reply.size() : p->reply.size(), '\0');
    std::vector<double> lib_ns;
    std::vector<double> raw_ns;
    const auto before = allocations_so_far();
    for (auto _ : state) {
        auto start = Clock::now();
        if (!ok || !library_call(*p, reply)) {
            state.SkipWithError("a call failed");
            break;
        }
        lib_ns.push_back(elapsed_ns(start));
        start = Clock::now();
        if (!test::raw_send(fd, p->call) || !recv_exact(fd, answer.data(), answer.size())) {
            state.SkipWithError("the raw peer went away");
            break;
        }
        raw_ns.push_back(elapsed_ns(start));
    }
    const auto after = allocations_so_far();
    COMCloseSock(s);
    ::close(fd);
    const std::string key =
        std::string(p->label) + (read_ahead ? read_ahead_suffix : "") + reply_suffix(reply);
    record(state, "raw/" + key, raw_ns, "raw_");
    Result &r = record(state, key, lib_ns, "");
    if (!lib_ns.empty()) {
        const auto calls = static_cast<double>(lib_ns.size());
        r.blocks = static_cast<double>(after.second - before.second) / calls;
        r.allocations = static_cast<double>(after.first - before.first) / calls - r.blocks;
        state.counters["allocs"] = r.allocations;
    }
}

void BM_call_with_nagle(benchmark::State &state, const Payload *p, const Placement *where) {
    if (!use_placement(*where)) {
        state.SkipWithError("the servers could not be started");
        return;
    }
    const int32_t s = library_connect(false, false, Reply::echoed);
    if (s < 0) {
        state.SkipWithError("no connection to the library server");
        return;
    }
    std::vector<double> ns;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!library_call(*p, Reply::echoed)) {
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
    for (const Reply reply : {Reply::echoed, Reply::small}) {
        const std::string shape = reply == Reply::small ? "/small" : "/echoed";
        for (const bool read_ahead : {false, true}) {
            const std::string mode = read_ahead ? "call_read_ahead_and_raw/" : "call_and_raw/";
            for (const Payload &p : payloads()) {
                benchmark::RegisterBenchmark((mode + p.label + shape + suffix).c_str(),
                                             BM_call_and_raw, &p, &where, read_ahead, reply)
                    ->MinTime(min_seconds)
                    ->UseRealTime();
            }
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

void print_row(const std::string &label, const std::string &bytes, const Result &lib,
               const Result *raw) {
    std::printf("%-16s %9s | %8.0f %7.1f %7.1f", label.c_str(), bytes.c_str(),
                lib.calls_per_second, lib.p50_us, lib.p99_us);
    if (raw != nullptr) {
        std::printf(" | %8.0f %7.1f %7.1f | %5.2f | %6.2f %6.2f\n", raw->calls_per_second,
                    raw->p50_us, raw->p99_us,
                    raw->calls_per_second > 0 ? lib.calls_per_second / raw->calls_per_second : 0.0,
                    lib.allocations, lib.blocks);
    } else {
        std::printf("\n");
    }
}

void print_summary() {
    std::printf("\nround trips over 127.0.0.1: calls per second, p50 and p99 in microseconds;\n"
                "ratio = library calls/s over raw ping-pong calls/s, measured side by side;\n"
                "reply \"=\" as large as the call, \"16\" return code and one integer;\n"
                "allocs = allocations per round trip of both ends besides the decoded blocks\n");
    for (const auto &[placement, rows] : results) {
        std::printf("\n%s\n%-16s %9s | %8s %7s %7s | %8s %7s %7s | %5s | %6s %6s\n",
                    placement.c_str(), "call", "bytes", "library", "p50", "p99", "raw", "p50",
                    "p99", "ratio", "allocs", "blocks");
        for (const Reply reply : {Reply::echoed, Reply::small}) {
            for (const char *mode : {"", read_ahead_suffix}) {
                for (const Payload &p : payloads()) {
                    const std::string &answer = reply == Reply::small ? p.small_reply : p.reply;
                    const std::string bytes =
                        std::to_string(p.call.size()) + "/" + std::to_string(answer.size());
                    const std::string key = std::string(p.label) + mode + reply_suffix(reply);
                    const auto lib = rows.find(key);
                    const auto raw = rows.find("raw/" + key);
                    if (lib != rows.end() && raw != rows.end()) {
                        print_row(key, bytes, lib->second, &raw->second);
                    }
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
            ::kill(pid, SIGTERM);
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
        role = server_role;
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

// The counting allocator: glibc's own functions do the work.
extern "C" {
void *__libc_malloc(std::size_t n);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *block, std::size_t n);

void *malloc(std::size_t n) noexcept {
    note_allocation();
    return __libc_malloc(n);
}
void *calloc(std::size_t n, std::size_t size) noexcept {
    note_allocation();
    return __libc_calloc(n, size);
}
void *realloc(void *block, std::size_t n) noexcept {
    note_allocation();
    return __libc_realloc(block, n);
}
}  // extern "C"

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const std::string prefix = private_prefix();
    shared_counts();
    razivu::message::set_allocate(counted_block);
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
