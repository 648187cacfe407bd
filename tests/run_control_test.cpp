// Tests of the run: camera choice, priming, passes, keys and every way the run ends.
#include "run_control.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "report_check.hpp"
#include "test_keys.hpp"

namespace {

namespace fs = std::filesystem;

// A frame with every element at one value.
struct flat_frame {
    int rows = 8;
    int cols = 8;
    int channels = 3;
    int value = 0;
};

cv::Mat make_frame(const flat_frame& frame)
{
    return cv::Mat(frame.rows, frame.cols, CV_8UC(frame.channels), cv::Scalar::all(frame.value));
}

std::vector<flat_frame> frames_of_values(std::initializer_list<int> values)
{
    std::vector<flat_frame> frames;
    for (int value : values) {
        frames.push_back({8, 8, 3, value});
    }
    return frames;
}

// A camera for the test rig: absent (nullopt), or a stream of these frames that
// then ends; an empty list is a camera that opens but never delivers a frame.
using camera = std::optional<std::vector<flat_frame>>;

// Keeps the report; once `capacity` lines are in, every write fails, setting errno to
// `failure_errno` as a full disk would (0: the stream fails without a system error).
class report_sink : public std::streambuf {
public:
    std::string text;
    std::size_t capacity = SIZE_MAX;
    int failure_errno = ENOSPC;

protected:
    int overflow(int ch) override
    {
        if (lines == capacity) {
            if (failure_errno != 0) {
                errno = failure_errno;
            }
            return traits_type::eof();
        }
        text.push_back(static_cast<char>(ch));
        lines += ch == '\n' ? 1 : 0;
        return ch;
    }

private:
    std::size_t lines = 0;
};

// What the loop showed in one pass.
struct pass_record {
    cv::Mat src;
    cv::Mat src_seki;
};

// One run's cameras, previews and streams, with what they saw; a fresh one for every case.
class rig {
public:
    rig()
    {
        std::string pattern = (fs::temp_directory_path() / "frame-integrator-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        dir = pattern;
    }
    ~rig() { fs::remove_all(dir); }
    rig(const rig&) = delete;
    rig& operator=(const rig&) = delete;

    // Writes the frames as an image sequence and returns a capture over it.
    cv::VideoCapture open_stream(int device_index, const std::vector<flat_frame>& frames) const
    {
        if (frames.empty()) {
            return cv::VideoCapture(
                "videotestsrc num-buffers=0 ! video/x-raw,format=BGR,width=8,height=8 ! appsink",
                cv::CAP_GSTREAMER);
        }
        const fs::path device_dir = dir / ("device" + std::to_string(device_index));
        fs::create_directories(device_dir);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const fs::path file = device_dir / cv::format("frame_%03zu.png", i);
            EXPECT_TRUE(cv::imwrite(file.string(), make_frame(frames[i])));
        }
        return cv::VideoCapture((device_dir / "frame_%03d.png").string(), cv::CAP_IMAGES);
    }

    open_capture_fn cameras(const camera& device0, const camera& device1)
    {
        return [this, device0, device1](int device_index) {
            devices_asked.push_back(device_index);
            const camera& wanted = device_index == 0 ? device0 : device1;
            return wanted ? open_stream(device_index, *wanted) : cv::VideoCapture();
        };
    }

    // Records each pass and answers with the scripted keys, then with no key.
    show_previews_fn press(const std::vector<int>& keys)
    {
        return [this, keys](const cv::Mat& src, const cv::Mat& src_seki) {
            passes.push_back({src.clone(), src_seki.clone()});
            errno = ENOTTY;  // as real windows may leave it, so a stale reason can show
            return passes.size() <= keys.size() ? keys[passes.size() - 1] : key_none;
        };
    }

    int run(const open_capture_fn& open_capture, const show_previews_fn& show_previews)
    {
        return run_frame_integrator(open_capture, show_previews, report, errors);
    }

    std::vector<std::string> report_lines() const { return lines_of(report_buffer.text); }

    static std::vector<std::string> lines_of(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path dir;
    std::vector<int> devices_asked;
    std::vector<pass_record> passes;
    report_sink report_buffer;
    std::ostream report{&report_buffer};
    std::ostringstream errors;
};

// The first element of a uniform frame.
int value_of(const cv::Mat& frame)
{
    return frame.ptr<std::uint8_t>(0)[0];
}

// Every line well formed and numbered 1, 2, 3, ... with no gaps.
void expect_numbered_report(const std::vector<std::string>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(is_report_line(lines[i], static_cast<std::int64_t>(i) + 1)) << lines[i];
    }
}

const std::vector<flat_frame> five_frames = frames_of_values({10, 20, 30, 40, 50});
const char* const camera_stopped = "frame-integrator: the camera stopped delivering frames\n";
const char* const report_failed =
    "frame-integrator: the report could not be written: No space left on device\n";
const char* const report_stream_failed =
    "frame-integrator: the report could not be written: the output stream failed\n";

TEST(run, ends_with_the_status_and_lines_each_situation_calls_for)
{
    std::vector<flat_frame> size_change = frames_of_values({10, 20, 30});
    size_change.push_back({12, 10, 3, 200});
    size_change.push_back({12, 10, 3, 100});
    std::vector<flat_frame> type_change = frames_of_values({10, 20, 30});
    type_change.push_back({8, 8, 1, 200});
    type_change.push_back({8, 8, 1, 100});

    struct run_case {
        const char* name;
        camera device0;
        camera device1;
        std::vector<int> keys;
        int status;
        std::size_t lines;
        std::string error;
        std::vector<int> devices_asked;
        std::size_t report_capacity = SIZE_MAX;  // lines the report takes before it fails
        int report_errno = ENOSPC;               // what its failure sets errno to
    };
    const camera no_camera = std::nullopt;
    const camera delivers_nothing = std::vector<flat_frame>{};
    // clang-format off
    const std::vector<run_case> cases = {
        {"q after the second pass", five_frames, no_camera, {key_none, key_q},
         exit_quit, 2, "", {0, 1}},
        {"Q, Esc and space keep running", frames_of_values({1, 2, 3, 4, 5, 6}), no_camera,
         {key_shift_q, key_esc, key_space, key_q}, exit_quit, 4, "", {0, 1}},
        {"no camera at device 0", no_camera, five_frames, {},
         exit_no_camera, 0, "", {0}},
        {"no camera at all", no_camera, no_camera, {},
         exit_no_camera, 0, "", {0}},
        {"stops before the first priming read", delivers_nothing, no_camera, {},
         exit_failure, 0, camera_stopped, {0, 1}},
        {"stops between the priming reads", frames_of_values({10}), no_camera, {},
         exit_failure, 0, camera_stopped, {0, 1}},
        {"stops before the first pass", frames_of_values({10, 20}), no_camera, {},
         exit_failure, 0, camera_stopped, {0, 1}},
        {"stops in the middle of the loop", five_frames, no_camera, {},
         exit_failure, 3, camera_stopped, {0, 1}},
        {"device 1 opens but delivers nothing", five_frames, delivers_nothing, {},
         exit_failure, 0, camera_stopped, {0, 1}},
        {"frame size changes mid-run", size_change, no_camera, {},
         exit_failure, 3, camera_stopped, {0, 1}},
        {"three channels turn to one mid-run", type_change, no_camera, {},
         exit_failure, 3, camera_stopped, {0, 1}},
        {"the report fails at its first line", five_frames, no_camera, {},
         exit_failure, 0, report_failed, {0, 1}, 0},
        {"the report fails after two lines", five_frames, no_camera, {},
         exit_failure, 2, report_failed, {0, 1}, 2},
        {"the report fails without a system error", five_frames, no_camera, {},
         exit_failure, 2, report_stream_failed, {0, 1}, 2, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig r;
        r.report_buffer.capacity = c.report_capacity;
        r.report_buffer.failure_errno = c.report_errno;

        EXPECT_EQ(r.run(r.cameras(c.device0, c.device1), r.press(c.keys)), c.status);
        EXPECT_EQ(r.report_lines().size(), c.lines);
        EXPECT_EQ(r.passes.size(), c.lines) << "each line is followed by its previews";
        expect_numbered_report(r.report_lines());
        EXPECT_EQ(r.errors.str(), c.error);
        EXPECT_EQ(r.devices_asked, c.devices_asked);
    }
}

TEST(run, first_pass_works_on_the_third_frame_read)
{
    rig r;
    ASSERT_EQ(r.run(r.cameras(frames_of_values({10, 20, 60, 90}), std::nullopt),
                    r.press({key_none, key_q})),
              exit_quit);
    const std::vector<pass_record>& passes = r.passes;
    ASSERT_EQ(passes.size(), 2U);
    // Frame 1 seeds the integrated image, frame 2 is never used.
    EXPECT_EQ(value_of(passes[0].src), 60);
    EXPECT_EQ(value_of(passes[0].src_seki), 35);
    EXPECT_EQ(value_of(passes[1].src), 90);
    EXPECT_EQ(value_of(passes[1].src_seki), 62);  // 62.5 rounds to even

    // Every element of frame and integrated image differs by 25 in pass 1.
    const std::vector<std::string> lines = r.report_lines();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].substr(0, 30), "frame_number =      1  PSNR = ");
    EXPECT_NEAR(std::stod(lines[0].substr(30)), 20.0 * std::log10(255.0 / 25.0), 1e-12);
}

// Open descriptors of this process on path: a stream reading a file holds one.
int descriptors_open_on(const fs::path& path)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == path) {
            ++count;
        }
    }
    return count;
}

TEST(run, reads_device_1_whenever_it_opens_and_closes_device_0_first)
{
    struct selection_case {
        const char* name;
        bool device1_present;
        int frame_value;
        int device0_descriptors;
    };
    const std::vector<selection_case> cases = {
        {"device 0 only", false, 10, 1},
        {"devices 0 and 1", true, 200, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig r;
        // Device 0 streams a raw file, so whether its stream is still open can be seen.
        const fs::path raw_file = r.dir / "device0.raw";
        {
            std::ofstream out(raw_file, std::ios::binary);
            out << std::string(std::size_t{8} * 8 * 3 * 10, static_cast<char>(10));
        }
        int descriptors_at_first_pass = -1;
        int frame_value = -1;
        const auto open_capture = [&](int device_index) {
            if (device_index == 0) {
                return cv::VideoCapture(
                    "filesrc location=" + raw_file.string() +
                        " ! rawvideoparse width=8 height=8 format=bgr ! appsink",
                    cv::CAP_GSTREAMER);
            }
            return c.device1_present ? r.open_stream(1, frames_of_values({200, 200, 200}))
                                     : cv::VideoCapture();
        };
        const auto show_previews = [&](const cv::Mat& src, const cv::Mat&) {
            descriptors_at_first_pass = descriptors_open_on(raw_file);
            frame_value = value_of(src);
            return key_q;
        };

        EXPECT_EQ(r.run(open_capture, show_previews), exit_quit);
        EXPECT_EQ(frame_value, c.frame_value);
        EXPECT_EQ(descriptors_at_first_pass, c.device0_descriptors);
        EXPECT_EQ(descriptors_open_on(raw_file), 0) << "released when the run ends";
    }
}

TEST(run, a_library_error_ends_the_run_with_one_line_and_status_1)
{
    struct error_case {
        const char* name;
        std::function<void()> raise;
        const char* message;
    };
    const std::vector<error_case> cases = {
        {"library error", [] { CV_Error(cv::Error::StsError, "window system gone"); },
         "window system gone"},
        {"standard error", [] { throw std::runtime_error("out of resources"); },
         "out of resources"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig r;
        int pass = 0;
        const auto show_previews = [&](const cv::Mat&, const cv::Mat&) {
            if (++pass == 2) {
                c.raise();
            }
            return key_none;
        };

        EXPECT_EQ(r.run(r.cameras(five_frames, std::nullopt), show_previews), exit_failure);
        EXPECT_EQ(r.report_lines().size(), 2U) << "the lines of finished passes stay";
        const std::vector<std::string> error_lines = rig::lines_of(r.errors.str());
        ASSERT_EQ(error_lines.size(), 1U) << r.errors.str();
        EXPECT_EQ(error_lines[0].rfind("frame-integrator: ", 0), 0U);
        EXPECT_NE(error_lines[0].find(c.message), std::string::npos);
    }
}

}  // namespace
