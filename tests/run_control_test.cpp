// Tests of the run: camera choice, priming, passes, keys, every way the run ends, a long run,
// and the pipeline camera that stands in for a real one.
#include "run_control.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <gtest/gtest.h>

#include "devices.hpp"
#include "test_keys.hpp"

namespace {

// The PSNR of line if it is one whole report line numbered pass, else -1.
double psnr_of_report_line(const std::string& line, std::int64_t pass)
{
    static const std::regex format(R"(frame_number = +(\d+)  PSNR = (\d+\.\d{15})\[dB\])");
    std::smatch match;
    const bool whole = std::regex_match(line, match, format) && std::stoll(match[1]) == pass;
    return whole ? std::stod(match[2]) : -1.0;
}

// A frame 8 rows high with every element at one value.
struct flat_frame {
    int value = 0;
    int cols = 8;
    const char* format = "BGR";  // GRAY8 for one channel
};

using frames = std::vector<flat_frame>;

// A camera for the test rig: absent (nullopt), or a stream of these frames that then ends; an
// empty list is a camera that opens but never delivers a frame.
using camera = std::optional<frames>;

// A capture that plays the frames once, in order, from a GStreamer pipeline.
cv::VideoCapture play(const frames& frames_to_play)
{
    std::string pipeline = "concat name=frames ! appsink sync=false";
    if (frames_to_play.empty()) {
        pipeline += " videotestsrc num-buffers=0 ! video/x-raw,format=BGR ! frames.";
    }
    for (const flat_frame& frame : frames_to_play) {
        pipeline += cv::format(
            " videotestsrc num-buffers=1 pattern=solid-color foreground-color=0xff%02x%02x%02x"
            " ! video/x-raw,height=8,width=%d,format=%s ! frames.",
            frame.value, frame.value, frame.value, frame.cols, frame.format);
    }
    return cv::VideoCapture(pipeline, cv::CAP_GSTREAMER);
}

// Keeps the report; once `capacity` lines are in, every write fails, setting errno to
// `failure_errno` as a full disk would (0: the stream fails without a system error).
struct report_sink : std::streambuf {
    std::string text;
    std::size_t capacity = SIZE_MAX;
    int failure_errno = ENOSPC;

    int overflow(int ch) override
    {
        if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == capacity) {
            if (failure_errno != 0) {
                errno = failure_errno;
            }
            return traits_type::eof();
        }
        text.push_back(static_cast<char>(ch));
        return ch;
    }
};

// What the loop showed in one pass: the value of every element of the flat frame, and of the
// integrated image.
struct pass_record {
    int frame;
    int integrated;
};

// One run's cameras, previews and streams, with what they saw; a fresh one for every case.
struct rig {
    open_capture_fn cameras(const camera& device0, const camera& device1)
    {
        return [this, device0, device1](int device_index) {
            devices_asked.push_back(device_index);
            const camera& wanted = device_index == 0 ? device0 : device1;
            return wanted ? play(*wanted) : cv::VideoCapture();
        };
    }

    // Records each pass and answers with the scripted keys, then with no key; raises the
    // error given, if any, in pass 2.
    show_previews_fn press(const std::vector<int>& keys, const std::function<void()>& raise)
    {
        return [this, keys, raise](const cv::Mat& src, const cv::Mat& src_seki) {
            passes.push_back({src.ptr<std::uint8_t>(0)[0], src_seki.ptr<std::uint8_t>(0)[0]});
            if (raise && passes.size() == 2) {
                raise();
            }
            errno = ENOTTY;  // as real windows may leave it, so a stale reason can show
            return passes.size() <= keys.size() ? keys[passes.size() - 1] : key_none;
        };
    }

    std::vector<int> devices_asked;
    std::vector<pass_record> passes;
    report_sink report_buffer;
    std::ostream report{&report_buffer};
    std::ostringstream errors;
};

const frames five = {{10}, {20}, {30}, {40}, {50}};
const frames six = {{1}, {2}, {3}, {4}, {5}, {6}};
const frames size_change = {{10}, {20}, {30}, {200, 12}, {100, 12}};
const frames type_change = {{10}, {20}, {30}, {200, 8, "GRAY8"}, {100, 8, "GRAY8"}};
const camera absent = std::nullopt;
const camera silent = frames{};  // opens, but never delivers a frame
const std::vector<int> q_last = {key_shift_q, key_esc, key_space, key_q};
// The one line on standard error of a camera that stopped, and of a report that could not be
// written on a full disk or to a stream that failed without a system error.
const char* const stopped = "frame-integrator: the camera stopped delivering frames\n";
const char* const full =
    "frame-integrator: the report could not be written: No space left on device\n";
const char* const failed =
    "frame-integrator: the report could not be written: the output stream failed\n";
// Errors raised from the windows: the library's, whose text has more lines, and a standard one.
const char* const gone = "frame-integrator: the window system is gone\n";
const auto raise_library_error = [] {
    cv::Exception error;
    error.msg = "the window system is gone\nin function show_previews";
    throw error;
};
const auto raise_standard_error = [] { throw std::runtime_error("the window system is gone"); };

struct run_case {
    const char* name;
    camera device0;
    camera device1;
    std::vector<int> keys;
    int status;  // as main returns it: 0 after q, -1 without device 0, 1 on a failure
    std::size_t lines;
    // What pass 1 showed: the frame it read and the integrated image after it; -1 without.
    int frame;
    int integrated;
    std::string error;
    std::vector<int> devices_asked;
    std::size_t report_capacity = SIZE_MAX;  // lines the report takes before it fails
    int report_errno = ENOSPC;               // what its failure sets errno to
    std::function<void()> raise = nullptr;   // an error raised in pass 2's previews
};

// The first frame read seeds the integrated image, the second is never used.
// clang-format off
const std::vector<run_case> run_cases = {
    {"q after the second pass", five, absent, {key_none, key_q}, 0, 2, 30, 20, "", {0, 1}},
    {"Q, Esc and space keep it running", six, absent, q_last, 0, 4, 3, 2, "", {0, 1}},
    {"device 1 is read whenever it opens", five, frames{{200}, {210}, {220}}, {key_q},
     0, 1, 220, 210, "", {0, 1}},
    {"no camera at device 0", absent, five, {}, -1, 0, -1, -1, "", {0}},
    {"no camera at all", absent, absent, {}, -1, 0, -1, -1, "", {0}},
    {"stops before the first priming read", silent, absent, {}, 1, 0, -1, -1, stopped, {0, 1}},
    {"stops between the priming reads", frames{{10}}, absent, {}, 1, 0, -1, -1, stopped, {0, 1}},
    {"stops before the first pass", frames{{10}, {20}}, absent, {}, 1, 0, -1, -1, stopped, {0, 1}},
    {"stops in the middle of the loop", five, absent, {}, 1, 3, 30, 20, stopped, {0, 1}},
    {"device 1 opens but delivers nothing", five, silent, {}, 1, 0, -1, -1, stopped, {0, 1}},
    {"frame size changes mid-run", size_change, absent, {}, 1, 3, 30, 20, stopped, {0, 1}},
    {"three channels turn to one mid-run", type_change, absent, {}, 1, 3, 30, 20, stopped, {0, 1}},
    {"the report fails at its first line", five, absent, {}, 1, 0, -1, -1, full, {0, 1}, 0},
    {"the report fails after two lines", five, absent, {}, 1, 2, 30, 20, full, {0, 1}, 2},
    {"the report fails without a system error", five, absent, {}, 1, 2, 30, 20, failed, {0, 1},
     2, 0},
    {"a library error in pass 2", five, absent, {}, 1, 2, 30, 20, gone, {0, 1}, SIZE_MAX, ENOSPC,
     raise_library_error},
    {"a standard error in pass 2", five, absent, {}, 1, 2, 30, 20, gone, {0, 1}, SIZE_MAX, ENOSPC,
     raise_standard_error},
};
// clang-format on

TEST(run, ends_with_the_status_and_lines_each_situation_calls_for)
{
    for (const auto& c : run_cases) {
        SCOPED_TRACE(c.name);
        rig r;
        r.report_buffer.capacity = c.report_capacity;
        r.report_buffer.failure_errno = c.report_errno;

        EXPECT_EQ(run_frame_integrator(r.cameras(c.device0, c.device1), r.press(c.keys, c.raise),
                                       r.report, r.errors),
                  c.status);
        std::istringstream report(r.report_buffer.text);
        std::size_t lines = 0;
        for (std::string line; std::getline(report, line);) {
            const double psnr = psnr_of_report_line(line, static_cast<std::int64_t>(++lines));
            EXPECT_GE(psnr, 0.0) << line;
            if (lines == 1) {  // every element of frame and integrated image differs alike
                EXPECT_NEAR(psnr, 20.0 * std::log10(255.0 / std::abs(c.frame - c.integrated)),
                            1e-12);
            }
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(r.passes.size(), c.lines) << "each line is followed by its previews";
        const pass_record first = r.passes.empty() ? pass_record{-1, -1} : r.passes[0];
        EXPECT_EQ(first.frame, c.frame);
        EXPECT_EQ(first.integrated, c.integrated);
        EXPECT_EQ(r.errors.str(), c.error);
        EXPECT_EQ(r.devices_asked, c.devices_asked);
    }
}

// A machine without a camera gets the pipeline as device 0, and no device 1 beside it.
TEST(pipeline_as_camera, is_device_0_and_no_other)
{
    const open_capture_fn open_capture = pipeline_as_camera("videotestsrc num-buffers=1 ! appsink");
    EXPECT_TRUE(open_capture(0).isOpened());
    EXPECT_FALSE(open_capture(1).isOpened());
}

// Two segments of one stream, the second in a larger size, more frames than the long run needs.
constexpr const char* two_sizes_of_snow =
    "concat name=joined ! appsink sync=false"
    " videotestsrc pattern=snow num-buffers=50002 ! video/x-raw,format=BGR,width=64,height=48"
    " ! joined. videotestsrc pattern=snow num-buffers=100000"
    " ! video/x-raw,format=BGR,width=80,height=60 ! joined.";

// The most memory the process has held so far, in KiB.
long peak_resident_kib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(run, reuses_its_buffer_and_keeps_memory_flat_over_100000_passes)
{
    constexpr std::int64_t passes = 100000;
    std::int64_t pass = 0;
    cv::Size size;
    const std::uint8_t* buffer = nullptr;
    int sizes_seen = 0;
    int new_buffers_at_same_size = 0;
    long resident_after_warm_up = 0;
    long resident_at_end = 0;
    const auto show_previews = [&](const cv::Mat&, const cv::Mat& src_seki) {
        if (src_seki.size() != size) {
            ++sizes_seen;
        } else if (src_seki.data != buffer) {
            ++new_buffers_at_same_size;
        }
        size = src_seki.size();
        buffer = src_seki.data;
        if (++pass == 1000) {
            resident_after_warm_up = peak_resident_kib();
        }
        if (pass < passes) {
            return key_none;
        }
        resident_at_end = peak_resident_kib();
        return key_q;
    };
    std::ofstream report("/dev/null");
    std::ostringstream errors;

    EXPECT_EQ(
        run_frame_integrator(pipeline_as_camera(two_sizes_of_snow), show_previews, report, errors),
        exit_quit)
        << errors.str();
    EXPECT_EQ(pass, passes);
    EXPECT_EQ(new_buffers_at_same_size, 0);
    EXPECT_EQ(sizes_seen, 2) << "the size change reached the integrated image";
#ifndef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine holds freed memory on purpose, and checks leaks itself. Under an
    // emulator the resident size is the emulator's, whose translated code grows as it meets code.
    if (std::getenv("FRAME_INTEGRATOR_EMULATED") == nullptr) {
        EXPECT_LT(resident_at_end - resident_after_warm_up, 1024) << "KiB more after " << passes;
    }
#endif
}

}  // namespace
