// What both benchmarks share: camera-like frame pools, the report file, our pass compute,
// the step loop and the medians.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "integration.hpp"
#include "report.hpp"

// The sizes of the common camera modes, from VGA to 4K.
inline const std::vector<cv::Size> benchmark_frame_sizes = {
    {640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};

inline std::string size_name(cv::Size size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// Registers fn as the benchmark "name/WIDTHxHEIGHT".
template <class Fn>
benchmark::internal::Benchmark* register_for_size(const std::string& name, cv::Size size, Fn fn)
{
    const std::string full_name = name + "/" + size_name(size);
    // Google Benchmark 1.7 (Debian 12) takes the name as a C string, 1.9 (Debian 13) as a
    // std::string; a C string suits both.
    return benchmark::RegisterBenchmark(
        full_name.c_str(),  // NOLINT(readability-redundant-string-cstr)
        std::move(fn));
}

// Distinct frames, together four times the size of this machine class's last-level
// cache, so cycling through them reads each frame from memory as a camera's would be.
inline std::vector<cv::Mat> noisy_frame_pool(cv::Size size)
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

// Where the benchmarks write report lines: a real file, as standard output redirected would be.
inline std::ofstream& report_file()
{
    static std::ofstream file("/tmp/frame-integrator-bench-report.txt");
    return file;
}

// The frame pool of one size, made once and kept for the whole run.
inline const std::vector<cv::Mat>& frame_pool(cv::Size size)
{
    static std::vector<std::pair<cv::Size, std::vector<cv::Mat>>> pools;
    for (const auto& [pool_size, frames] : pools) {
        if (pool_size == size) {
            return frames;
        }
    }
    pools.emplace_back(size, noisy_frame_pool(size));
    return pools.back().second;
}

// Our compute of one pass as the tool makes it: integration step, PSNR and report line.
inline void our_pass_compute(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number)
{
    integrate_frame(src, src_seki);
    write_report_line(report_file(), frame_number, measure_psnr(src, src_seki));
}

// Runs one step per iteration, each on the next frame of the pool, into one integrated image.
using step_fn =
    std::function<void(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number)>;

inline void run_step(benchmark::State& state, cv::Size size, const step_fn& step)
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

// Runs the registered benchmarks with the command line's options and returns their medians.
inline medians run_registered_benchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    median_collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.collected;
}

// The median of name, or 0 when it was filtered out of the run.
inline double median_of(const medians& times, const std::string& name)
{
    const auto found = times.find(name);
    return found == times.end() ? 0.0 : found->second;
}

// The median of step at size, or 0 when it was filtered out of the run.
inline double median_of(const medians& times, const std::string& step, cv::Size size)
{
    return median_of(times, step + "/" + size_name(size));
}
