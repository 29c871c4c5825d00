// Round trips against a running `razivu serve`, as a client of the public
// interface only, so that the same source builds for Linux and for Windows
// (scripts/bench_windows.sh runs both against one Linux server in one run).
//
//   roundtrip_client HOST PORT SECONDS   (per measurement; each is made 3 times)
//
// For each call it prints calls per second and p99 of the library's client
// (fields packed, then decoded one by one with two exact-count reads each;
// once more with read-ahead), and of the raw exchange of the same bytes on
// the same kind of connection (one write of the whole call, one exact-count
// read of the whole reply), with the library's rate as a ratio of the raw one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <razivu/razivu.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t echo_ok = 10;
constexpr double percentile = 0.99;
constexpr int rounds = 3;

enum class Kind { text, null_text, integer, boolean, bytes };

struct Arg {
    Kind kind;
    std::string data;  // text or bytes
    int32_t value;     // integer or boolean
};

struct Payload {
    const char *label;
    std::vector<Arg> args;
};

// The worked example of docs/c-api.md (59 bytes), and two arrays that make a call of
// 2010 bytes, sent in three pieces.
std::vector<Payload> payloads() {
    const Arg blob{Kind::bytes, std::string(986, '\xA5'), 0};
    return {
        {"worked-example Echo (59/54 bytes)",
         {{Kind::text, "abc", 0}, {Kind::null_text, "", 0}, {Kind::integer, "", 42}, {Kind::boolean, "", 1},
          {Kind::bytes, std::string("\0\xff", 2), 0}}},
        {"2010-byte Echo, 3 pieces (2010/2005 bytes)", {blob, blob}},
    };
}

void pack_call(const Payload &p) {
    ResetBuffer();
    PackFunctionName("Echo");
    for (const Arg &a : p.args) {
        switch (a.kind) {
        case Kind::text: PackString(a.data.c_str()); break;
        case Kind::null_text: PackString(nullptr); break;
        case Kind::integer: PackInteger(a.value); break;
        case Kind::boolean: PackBoolean(a.value); break;
        case Kind::bytes: PackByteArray(a.data.data(), static_cast<int32_t>(a.data.size())); break;
        }
    }
    SendBuffer();
}

// Decodes and checks the echoed fields; false on the first difference.
bool unpack_reply(const Payload &p) {
    int32_t code = 0;
    if (UnpackReturnCode(&code) != 0 || code != echo_ok) {
        return false;
    }
    for (const Arg &a : p.args) {
        char *block = nullptr;
        int32_t n = 0;
        bool same = false;
        switch (a.kind) {
        case Kind::text:
        case Kind::null_text:
            same = UnpackString(&block) == 0 &&
                   (a.kind == Kind::null_text ? block == nullptr : block != nullptr && a.data == block);
            break;
        case Kind::integer: same = UnpackInteger(&n) == 0 && n == a.value; break;
        case Kind::boolean: same = UnpackBoolean(&n) == 0 && n == a.value; break;
        case Kind::bytes:
            same = UnpackByteArray(&block, &n) == 0 && std::string(block, static_cast<std::size_t>(n)) == a.data;
            break;
        }
        UnpackFree(block);
        if (!same) {
            return false;
        }
    }
    return true;
}

// The bytes pack_call sends, caught by a transport of our own.
std::string captured;
int32_t capture(int32_t, char *buffer, int32_t count) {
    captured.append(buffer, static_cast<std::size_t>(count));
    return count;
}

std::string call_bytes(const Payload &p) {
    captured.clear();
    SetTransport(capture, nullptr, 0);
    pack_call(p);
    return captured;
}

struct Figures {
    double per_second = 0;
    double p99_us = 0;
};

// Runs round_trip on a new connection for the given time; all zeros when a
// call failed.
template <typename RoundTrip>
Figures measure(const char *host, double seconds, bool read_ahead, RoundTrip round_trip) {
    const int32_t s = COMConnectToServerSock(host, COMGetServiceName());
    if (s < 0) {
        return {};
    }
    SetTransport(COMSend, COMReceive, s);
    COMSetSockReadAhead(s, read_ahead ? 1 : 0);
    std::vector<double> us;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Clock::time_point t = start; t < end;) {
        if (!round_trip(s)) {
            COMCloseSock(s);
            return {};
        }
        const Clock::time_point now = Clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(now - t).count());
        t = now;
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    COMCloseSock(s);
    std::sort(us.begin(), us.end());
    return {static_cast<double>(us.size()) / took, us[static_cast<std::size_t>(static_cast<double>(us.size()) * percentile)]};
}

// The round of the median rate.
Figures median(std::vector<Figures> rounds_of) {
    std::sort(rounds_of.begin(), rounds_of.end(),
              [](const Figures &a, const Figures &b) { return a.per_second < b.per_second; });
    return rounds_of[rounds_of.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: roundtrip_client HOST PORT SECONDS\n");
        return 2;
    }
    const char *host = argv[1];
    const double seconds = std::atof(argv[3]);
    COMSetServiceName("razivu-bench-no-such-service");
    COMSetDefaultPort(static_cast<int16_t>(PThtons(static_cast<uint16_t>(std::atoi(argv[2])))));
    for (const Payload &p : payloads()) {
        const std::string call = call_bytes(p);
        const std::string reply = "r00010|" + call.substr(std::string("#00004|Echo|").size());
        std::string got(reply.size(), '\0');
        const auto raw = [&](int32_t s) {
            std::string out = call;
            return COMWriteSock(s, out.data(), static_cast<int32_t>(out.size()), 0) == static_cast<int32_t>(out.size()) &&
                   COMReadSock(s, got.data(), static_cast<int32_t>(got.size()), 0) == static_cast<int32_t>(got.size()) &&
                   got == reply;
        };
        const auto library = [&](int32_t) {
            pack_call(p);
            return unpack_reply(p);
        };
        // Rounds in turn, the median of each kept: a first round warms up
        // what a later one would otherwise get for free.
        std::vector<Figures> r(rounds);
        std::vector<Figures> lib(rounds);
        std::vector<Figures> ra(rounds);
        for (int i = 0; i < rounds; ++i) {
            r[i] = measure(host, seconds, false, raw);
            lib[i] = measure(host, seconds, false, library);
            ra[i] = measure(host, seconds, true, library);
        }
        const double base = median(r).per_second > 0 ? median(r).per_second : 1;
        std::printf("%s\n  library %8.0f calls/s p99 %8.1f us ratio %.2f\n"
                    "  +ra     %8.0f calls/s p99 %8.1f us ratio %.2f\n"
                    "  raw     %8.0f calls/s p99 %8.1f us\n",
                    p.label, median(lib).per_second, median(lib).p99_us, median(lib).per_second / base,
                    median(ra).per_second, median(ra).p99_us, median(ra).per_second / base,
                    median(r).per_second, median(r).p99_us);
    }
    COMWSACleanup();
    return 0;
}
