// Passes per second of the whole pass with the real preview windows, per frame size.
// Needs an X display; make bench starts a virtual one when there is none.
#include <cstdint>
#include <cstdio>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "bench_support.hpp"
#include "devices.hpp"

namespace {

// One pass as the tool makes it, less the camera read: compute, report line, both windows.
void whole_pass(benchmark::State& state, cv::Size size)
{
    run_step(state, size, [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number) {
        our_pass_compute(src, src_seki, frame_number);
        show_previews_in_windows(src, src_seki);
    });
    state.counters["passes_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The two windows and the key poll alone, to see which step takes the time.
void previews_only(benchmark::State& state, cv::Size size)
{
    const std::vector<cv::Mat>& frames = frame_pool(size);
    std::size_t next = 0;
    for ([[maybe_unused]] auto _ : state) {
        const cv::Mat& src = frames[++next % frames.size()];
        show_previews_in_windows(src, src);
    }
}

void print_summary(const medians& times)
{
    std::printf("\nWhole pass with previews (median), and what a camera mode needs\n");
    std::printf("%-10s %12s %14s %12s %8s %8s\n", "size", "pass ms", "passes/s", "previews ms",
                "30 fps", "60 fps");
    for (const cv::Size size : benchmark_frame_sizes) {
        const double pass_us = median_of(times, "whole_pass", size);
        if (pass_us == 0.0) {
            continue;
        }
        const double passes_per_second = 1e6 / pass_us;
        std::printf(
            "%-10s %12.2f %14.1f %12.2f %8s %8s\n", size_name(size).c_str(), pass_us / 1000.0,
            passes_per_second, median_of(times, "previews_only", size) / 1000.0,
            passes_per_second >= 30.0 ? "yes" : "no", passes_per_second >= 60.0 ? "yes" : "no");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    for (const cv::Size size : benchmark_frame_sizes) {
        using bench_fn = void (*)(benchmark::State&, cv::Size);
        const std::pair<const char*, bench_fn> benches[] = {{"whole_pass", &whole_pass},
                                                            {"previews_only", &previews_only}};
        for (const auto& [name, function] : benches) {
            register_for_size(
                name, size,
                [size, bench = function](benchmark::State& state) { bench(state, size); })
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->MinTime(1.0)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
        }
    }
    print_summary(run_registered_benchmarks(argc, argv));
    return 0;
}
