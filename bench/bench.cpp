// Per-frame cost of the tool's pass and of its steps against the bare library calls and a
// frame copy, then of whole passes with the real preview windows, for common camera sizes.
// The window benchmarks need an X display; make bench starts a virtual one when there is none.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "devices.hpp"
#include "integration.hpp"
#include "report.hpp"
#include "run_control.hpp"

namespace {

// The sizes of the common camera modes, from VGA to 4K.
const std::vector<cv::Size> frame_sizes = {{640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};

std::string size_name(cv::Size size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// Distinct frames, together four times the size of this machine class's last-level
// cache, so cycling through them reads each frame from memory as a camera's would be.
std::vector<cv::Mat> noisy_frame_pool(cv::Size size)
{
    constexpr std::size_t pool_bytes = std::size_t{128} << 20;
    const std::size_t frame_bytes =
        std::max<std::size_t>(1, static_cast<std::size_t>(size.area()) * 3);
    const std::size_t count = std::max<std::size_t>(4, pool_bytes / frame_bytes + 1);

    cv::Mat scene(size, CV_8UC3);
    cv::randu(scene, 40, 200);
    std::vector<cv::Mat> frames(count);
    cv::Mat noise(size, CV_16SC3);
    for (cv::Mat& frame : frames) {
        cv::randn(noise, 0, 12);
        cv::add(scene, noise, frame, cv::noArray(), CV_8UC3);
    }
    return frames;
}

// The frame pool of one size, made once and kept for the whole run.
const std::vector<cv::Mat>& frame_pool(cv::Size size)
{
    static std::map<std::pair<int, int>, std::vector<cv::Mat>> pools;
    auto& pool = pools[{size.width, size.height}];
    if (pool.empty()) {
        pool = noisy_frame_pool(size);
    }
    return pool;
}

// Where report lines go: a real file, as standard output redirected would be.
std::ofstream& report_file()
{
    static constexpr const char* path = "/tmp/frame-integrator-bench-report.txt";
    static std::ofstream file(path);
    if (!file) {
        std::fprintf(stderr, "bench: cannot write the report file %s\n", path);
        std::exit(EXIT_FAILURE);
    }
    return file;
}

// One step of a pass, on the frame of the given number and one integrated image.
using step_fn =
    std::function<void(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number)>;

void pass(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number)
{
    if (!process_frame(src, src_seki, frame_number, report_file())) {
        std::fprintf(stderr, "bench: a report line could not be written\n");
        std::exit(EXIT_FAILURE);
    }
}

// Compute steps: ours, the bare library calls they stand on, and a copy for scale.
const std::vector<std::pair<std::string, step_fn>> compute_steps = {
    {"ours/integrate_frame",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) { integrate_frame(src, src_seki); }},
    {"ours/measure_psnr",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         benchmark::DoNotOptimize(measure_psnr(src, src_seki));
     }},
    {"ours/pass", pass},
    {"bare/weighted_sum",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         cv::addWeighted(src_seki, 0.5, src, 0.5, 0.0, src_seki);
     }},
    {"bare/psnr", [](const cv::Mat& src, cv::Mat& src_seki,
                     std::int64_t) { benchmark::DoNotOptimize(cv::PSNR(src, src_seki, 255.0)); }},
    {"bare/pass",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) {
         cv::addWeighted(src_seki, 0.5, src, 0.5, 0.0, src_seki);
         benchmark::DoNotOptimize(cv::PSNR(src, src_seki, 255.0));
     }},
    {"reference/copy",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t) { src.copyTo(src_seki); }},
};

// With the real windows: a whole pass less the camera read, and the windows alone.
const std::vector<std::pair<std::string, step_fn>> window_steps = {
    {"windows/whole_pass",
     [](const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number) {
         pass(src, src_seki, frame_number);
         show_previews_in_windows(src, src_seki);
     }},
    {"windows/previews_only",
     [](const cv::Mat& src, cv::Mat&, std::int64_t) { show_previews_in_windows(src, src); }},
};

// Runs one step per iteration, each on the next frame of the pool, into one integrated image.
void run_step(benchmark::State& state, cv::Size size, const step_fn& step)
{
    const std::vector<cv::Mat>& frames = frame_pool(size);
    cv::Mat src_seki = frames[0].clone();
    std::int64_t frame_number = 0;
    for ([[maybe_unused]] auto _ : state) {
        ++frame_number;
        step(frames[static_cast<std::size_t>(frame_number) % frames.size()], src_seki,
             frame_number);
        benchmark::ClobberMemory();
    }
}

// Registers every step as "name/WIDTHxHEIGHT".
void register_steps(const std::vector<std::pair<std::string, step_fn>>& steps, double min_time,
                    int repetitions)
{
    for (const cv::Size size : frame_sizes) {
        for (const auto& [name, step] : steps) {
            const std::string full_name = name + "/" + size_name(size);
            // Google Benchmark 1.7 (Debian 12) takes the name as a C string, 1.9 (Debian 13)
            // as a std::string; a C string suits both.
            benchmark::RegisterBenchmark(
                full_name.c_str(),  // NOLINT(readability-redundant-string-cstr)
                [size, size_step = step](benchmark::State& state) {
                    run_step(state, size, size_step);
                })
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->MinTime(min_time)
                ->Repetitions(repetitions)
                ->ReportAggregatesOnly(true);
        }
    }
}

void report_line_to_file(benchmark::State& state)
{
    std::int64_t frame_number = 0;
    for ([[maybe_unused]] auto _ : state) {
        write_report_line(report_file(), ++frame_number, 43.01196999889036);
    }
}

// Median real time per benchmark, keyed by registered name.
using medians = std::map<std::string, double>;

// Prints as usual and keeps the median real time of every benchmark.
class median_collector : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so a saved run reads cleanly.
    median_collector() : ConsoleReporter(isatty(fileno(stdout)) != 0 ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                collected[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    medians collected;
};

void print_summary(const medians& times)
{
    // The median of name at size, or 0 when it was filtered out of the run.
    const auto median = [&times](const std::string& name, cv::Size size) {
        const auto found = times.find(name + "/" + size_name(size));
        return found == times.end() ? 0.0 : found->second;
    };
    std::printf(
        "\nMedian per frame in microseconds; ratio of our pass to the bare calls and to a "
        "copy\n");
    std::printf("%-10s %10s %10s %10s %10s %10s %10s %10s %8s %8s\n", "size", "integrate", "psnr",
                "pass", "bare sum", "bare psnr", "bare pass", "copy", "/bare", "/copy");
    for (const cv::Size size : frame_sizes) {
        const double ours = median("ours/pass", size);
        const double bare = median("bare/pass", size);
        const double copy = median("reference/copy", size);
        if (ours != 0.0 && bare != 0.0 && copy != 0.0) {
            std::printf("%-10s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %8.3f %8.2f\n",
                        size_name(size).c_str(), median("ours/integrate_frame", size),
                        median("ours/measure_psnr", size), ours, median("bare/weighted_sum", size),
                        median("bare/psnr", size), bare, copy, ours / bare, ours / copy);
        }
    }
    const auto line = times.find("ours/write_report_line");
    if (line != times.end()) {
        std::printf("write_report_line to a file: %.3f microseconds\n", line->second);
    }

    std::printf("\nWhole pass with previews (median), and what a camera mode needs\n");
    std::printf("%-10s %12s %14s %12s %8s %8s\n", "size", "pass ms", "passes/s", "previews ms",
                "30 fps", "60 fps");
    for (const cv::Size size : frame_sizes) {
        const double pass_us = median("windows/whole_pass", size);
        if (pass_us != 0.0) {
            const double passes_per_second = 1e6 / pass_us;
            std::printf(
                "%-10s %12.2f %14.1f %12.2f %8s %8s\n", size_name(size).c_str(), pass_us / 1000.0,
                passes_per_second, median("windows/previews_only", size) / 1000.0,
                passes_per_second >= 30.0 ? "yes" : "no", passes_per_second >= 60.0 ? "yes" : "no");
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    register_steps(compute_steps, 0.2, 5);
    register_steps(window_steps, 1.0, 3);
    benchmark::RegisterBenchmark("ours/write_report_line", report_line_to_file)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);

    benchmark::Initialize(&argc, argv);
    median_collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_summary(reporter.collected);
    return 0;
}
