// Nanoseconds per conversion, both ways, for the closed-form calendar
// functions and for the year-by-year walk they replace, at three dates; then
// the walk's time divided by the closed form's, from the same run.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "razivu/calendar.h"
#include "tests/unit/test_calendar_walk.h"

namespace {

namespace walk = razivu::walk;

struct Point {
    const char *label;
    int32_t n;
    int32_t day;
    int32_t month;
    int32_t year;
};

constexpr Point points[] = {
    {"2026-01-01", 46022, 1, 1, 2026},
    {"9999-12-31", 2958464, 31, 12, 9999},
    {"day-2147483647", INT32_MAX, 11, 7, 5881510},
};
// The walk to the last day number takes millions of steps per call.
constexpr benchmark::IterationCount slow_walk_iterations = 8;

// The date of day number n, 0/0/0 for 0; -1 for a negative n or a null output.
// The date of day number n by the walk, shaped like the exported function.
int32_t walk_date(int32_t n, int32_t *day, int32_t *month, int32_t *year) {
    if (n < 0 || day == nullptr || month == nullptr || year == nullptr) {
        return -1;
    }
    *day = *month = *year = 0;
    walk::YearMark mark;
    while (n > 0 && mark.before + (walk::is_leap(mark.year) ? 366 : 365) < n) {
        mark.walk_to(mark.year + 1);
    }
    int32_t left = static_cast<int32_t>(n - mark.before);
    for (int32_t m = 1; n > 0; left -= walk::month_length(mark.year, m++)) {
        if (left <= walk::month_length(mark.year, m)) {
            *day = left;
            *month = m;
            *year = static_cast<int32_t>(mark.year);
            break;
        }
    }
    return 0;
}

int64_t walk_number(int32_t day, int32_t month, int32_t year) {
    return walk::days_of(day, month, year);
}

template <auto convert>
void to_date(benchmark::State &state, Point p) {
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.n);
        convert(p.n, &day, &month, &year);
        benchmark::DoNotOptimize(day);
    }
}

template <auto convert>
void to_number(benchmark::State &state, Point p) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(convert(p.day, p.month, p.year));
    }
}

// Keeps each run's CPU time per iteration, in ns, by benchmark name: CPU
// time, since other work on a shared machine inflates the wall clock.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // No colour codes: the figures are meant to be copied into reports.
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                ns[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ns;
};

std::string name_of(const char *kind, const char *direction, const Point &p) {
    return std::string(kind) + "/" + direction + "/" + p.label;
}

// Registers the closed form and the walk for one direction at p.
template <typename Fn>
void register_pair(const char *direction, const Point &p, Fn closed, Fn walked) {
    benchmark::RegisterBenchmark(name_of("closed", direction, p).c_str(), closed, p);
    auto *walk_run = benchmark::RegisterBenchmark(name_of("walk", direction, p).c_str(), walked, p);
    if (p.n == INT32_MAX) {
        walk_run->Iterations(slow_walk_iterations);
    }
}

void register_all() {
    for (const Point &p : points) {
        register_pair("to_date", p, to_date<VIZIGetDMYFromDaysSince1900>, to_date<walk_date>);
        register_pair("to_number", p, to_number<VIZIGetDaysSince1900>, to_number<walk_number>);
    }
}

// A benchmark of a wrong answer is worth nothing: compare once before timing.
bool closed_form_matches_walk() {
    bool ok = true;
    for (const Point &p : points) {
        int32_t d = 0;
        int32_t m = 0;
        int32_t y = 0;
        VIZIGetDMYFromDaysSince1900(p.n, &d, &m, &y);
        ok = ok && d == p.day && m == p.month && y == p.year;
        walk_date(p.n, &d, &m, &y);
        ok = ok && d == p.day && m == p.month && y == p.year &&
             VIZIGetDaysSince1900(p.day, p.month, p.year) == p.n &&
             walk::days_of(p.day, p.month, p.year) == p.n;
    }
    return ok;
}

void print_ratios(const RatioReporter &reporter) {
    std::printf("\nCPU ns per conversion\n%-16s %-10s %12s %14s %12s\n", "date", "direction",
                "closed form", "walk", "walk/closed");
    for (const Point &p : points) {
        for (const char *direction : {"to_date", "to_number"}) {
            const double closed = reporter.ns.at(name_of("closed", direction, p));
            const double walked = reporter.ns.at(name_of("walk", direction, p));
            std::printf("%-16s %-10s %12.2f %14.0f %12.0f\n", p.label, direction, closed, walked,
                        walked / closed);
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (!closed_form_matches_walk()) {
        std::fprintf(stderr, "bench_calendar: closed form and walk disagree; not timing\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    register_all();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // A --benchmark_filter may have left some runs out.
    if (reporter.ns.size() == 4 * std::size(points)) {
        print_ratios(reporter);
    }
    benchmark::Shutdown();
    return 0;
}
