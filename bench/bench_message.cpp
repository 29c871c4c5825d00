// Packing and decoding the 59-byte example call (a name and five arguments)
// through the in-memory peer, against a plain memcpy of the same 59 bytes
// measured in the same run.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tests/support/memory_transport.h"

namespace {

using razivu::test::MemoryPeer;

const char example_bytes[] = {'\0', '\xff'};
constexpr int32_t example_len = 59;

void pack_example() {
    ResetBuffer();
    PackFunctionName("Echo");
    PackString("abc");
    PackString(nullptr);
    PackInteger(42);
    PackBoolean(1);
    PackByteArray(example_bytes, 2);
    SendBuffer();
}

std::string example_message() {
    MemoryPeer &peer = razivu::test::use_memory_peer();
    pack_example();
    return peer.sent;
}

void BM_pack(benchmark::State &state) {
    MemoryPeer &peer = razivu::test::use_memory_peer();
    for (auto _ : state) {
        peer.rewind();
        pack_example();
        benchmark::DoNotOptimize(peer.sent.data());
    }
}

void BM_decode(benchmark::State &state) {
    MemoryPeer &peer = razivu::test::use_memory_peer(example_message());
    char *name = nullptr;
    char *text = nullptr;
    char *null_text = nullptr;
    char *bytes = nullptr;
    int32_t number = 0;
    int32_t flag = 0;
    int32_t count = 0;
    for (auto _ : state) {
        peer.rewind();
        UnpackFunctionName(&name);
        UnpackString(&text);
        UnpackString(&null_text);
        UnpackInteger(&number);
        UnpackBoolean(&flag);
        UnpackByteArray(&bytes, &count);
        benchmark::DoNotOptimize(number + flag + count);
        UnpackFree(name);
        UnpackFree(text);
        UnpackFree(bytes);
    }
}

void BM_memcpy_reference(benchmark::State &state) {
    const std::string message = example_message();
    char target[RAZIVU_MESSAGE_CAP];
    for (auto _ : state) {
        benchmark::DoNotOptimize(message.data());
        std::memcpy(target, message.data(), example_len);
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_pack);
BENCHMARK(BM_decode);
BENCHMARK(BM_memcpy_reference);

// Keeps the CPU time per iteration of every run it prints: on a shared
// machine that is steadier than the wall clock.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                ns_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double ns(const std::string &name) const {
        const auto it = ns_.find(name);
        return it == ns_.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double reference = reporter.ns("BM_memcpy_reference");
    for (const char *name : {"BM_pack", "BM_decode"}) {
        const double ns = reporter.ns(name);
        if (ns > 0.0 && reference > 0.0) {
            std::printf("%s: %.1f ns per %d-byte message, %.1f x memcpy of the same bytes (%.2f ns)\n",
                        name + 3, ns, example_len, ns / reference, reference);
        }
    }
    benchmark::Shutdown();
    return 0;
}
