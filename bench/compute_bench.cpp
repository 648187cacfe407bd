// Per-frame cost of our compute against the bare library calls and a frame copy.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "bench_support.hpp"
#include "integration.hpp"
#include "report.hpp"

namespace {

const std::vector<std::pair<std::string, step_fn>> steps = {
    {"ours/integrate_frame",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) { integrate_frame(src, src_seki); }},
    {"ours/measure_psnr",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         benchmark::DoNotOptimize(measure_psnr(src, src_seki));
     }},
    {"ours/pass_compute", our_pass_compute},
    {"bare/weighted_sum",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         cv::addWeighted(src_seki, 0.5, src, 0.5, 0.0, src_seki);
     }},
    {"bare/psnr", [](const cv::Mat& src, cv::Mat& src_seki,
                     std::int64_t) { benchmark::DoNotOptimize(cv::PSNR(src, src_seki, 255.0)); }},
    {"bare/pass_compute",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         cv::addWeighted(src_seki, 0.5, src, 0.5, 0.0, src_seki);
         benchmark::DoNotOptimize(cv::PSNR(src, src_seki, 255.0));
     }},
    {"reference/copy",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) { src.copyTo(src_seki); }},
};

void report_line_to_file(benchmark::State& state)
{
    std::int64_t frame_number = 0;
    for ([[maybe_unused]] auto _ : state) {
        write_report_line(report_file(), ++frame_number, 43.01196999889036);
    }
}

void print_ratios(const medians& times)
{
    const auto median = [&](const std::string& step, cv::Size size) {
        return median_of(times, step, size);
    };
    std::printf(
        "\nMedian per frame in microseconds; ratio of our whole compute to the bare calls and to a "
        "copy\n");
    std::printf("%-10s %10s %10s %10s %10s %10s %10s %10s %8s %8s\n", "size", "integrate", "psnr",
                "pass", "bare sum", "bare psnr", "bare pass", "copy", "/bare", "/copy");
    for (const cv::Size size : benchmark_frame_sizes) {
        const double ours = median("ours/pass_compute", size);
        const double bare = median("bare/pass_compute", size);
        const double copy = median("reference/copy", size);
        if (ours == 0.0 || bare == 0.0 || copy == 0.0) {
            continue;  // filtered out of this run
        }
        std::printf("%-10s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %8.3f %8.2f\n",
                    size_name(size).c_str(), median("ours/integrate_frame", size),
                    median("ours/measure_psnr", size), ours, median("bare/weighted_sum", size),
                    median("bare/psnr", size), bare, copy, ours / bare, ours / copy);
    }
    const double line = median_of(times, "ours/write_report_line");
    if (line != 0.0) {
        std::printf("write_report_line to a file: %.3f microseconds\n", line);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    for (const cv::Size size : benchmark_frame_sizes) {
        for (const auto& [name, step] : steps) {
            register_for_size(name, size,
                              [size, pass_step = step](benchmark::State& state) {
                                  run_step(state, size, pass_step);
                              })
                ->Unit(benchmark::kMicrosecond)
                ->MinTime(0.2)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
        }
    }
    benchmark::RegisterBenchmark("ours/write_report_line", report_line_to_file)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);

    print_ratios(run_registered_benchmarks(argc, argv));
    return 0;
}
