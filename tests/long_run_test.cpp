// A long run through the seams: 100 000 passes with a size change and keys on the way,
// lines in order, the frame's and the integrated image's buffers reused and resident memory flat.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "devices.hpp"
#include "report_check.hpp"
#include "run_control.hpp"
#include "test_keys.hpp"

namespace {

constexpr std::int64_t passes = 100000;
constexpr std::int64_t size_change_pass = 50000;

// Two segments of one stream, the second in a larger size, more frames than the run needs.
const std::string two_size_stream =
    "concat name=joined ! appsink sync=false"
    " videotestsrc pattern=snow num-buffers=" +
    std::to_string(size_change_pass + 2) +
    " ! video/x-raw,format=BGR,width=64,height=48 ! joined."
    " videotestsrc pattern=snow num-buffers=" +
    std::to_string(passes) + " ! video/x-raw,format=BGR,width=80,height=60 ! joined.";

// Checks each report line as it is written, without keeping it: well formed and the next number.
class line_checker : public std::streambuf {
public:
    std::int64_t lines = 0;
    std::int64_t out_of_order = 0;

protected:
    int overflow(int ch) override
    {
        if (ch == '\n') {
            check_line();
            line.clear();
        } else if (ch != traits_type::eof()) {
            line.push_back(static_cast<char>(ch));
        }
        return ch;
    }

private:
    void check_line()
    {
        ++lines;
        if (!is_report_line(line, lines)) {
            ++out_of_order;
        }
    }
    std::string line;
};

// Counts the passes in which a matrix got a new buffer while its size stayed the same.
struct buffer_watch {
    void see(const cv::Mat& m)
    {
        if (m.size() != size) {
            ++sizes_seen;
        } else if (m.data != data) {
            ++new_buffers_at_same_size;
        }
        size = m.size();
        data = m.data;
    }
    cv::Size size;
    const std::uint8_t* data = nullptr;
    int sizes_seen = 0;
    int new_buffers_at_same_size = 0;
};

std::int64_t resident_bytes()
{
    std::ifstream statm("/proc/self/statm");
    std::int64_t size_pages = 0;
    std::int64_t resident_pages = 0;
    statm >> size_pages >> resident_pages;
    return resident_pages * sysconf(_SC_PAGESIZE);
}

TEST(long_run, stays_in_order_reuses_its_buffer_and_keeps_memory_flat)
{
    std::int64_t pass = 0;
    buffer_watch frame_buffer;
    buffer_watch integrated_buffer;
    std::int64_t resident_after_warm_up = 0;
    std::int64_t resident_at_end = 0;
    const auto show_previews = [&](const cv::Mat& src, const cv::Mat& src_seki) {
        ++pass;
        frame_buffer.see(src);
        integrated_buffer.see(src_seki);
        if (pass == 1000) {
            resident_after_warm_up = resident_bytes();
        }
        switch (pass) {
            case 20000:
                return key_esc;
            case 40000:
                return key_shift_q;
            case 60000:
                return key_space;
            case passes:
                resident_at_end = resident_bytes();
                return key_q;
            default:
                return key_none;
        }
    };
    line_checker checker;
    std::ostream report(&checker);
    std::ostringstream errors;

    EXPECT_EQ(
        run_frame_integrator(pipeline_as_camera(two_size_stream), show_previews, report, errors),
        exit_quit)
        << errors.str();
    EXPECT_EQ(checker.lines, passes);
    EXPECT_EQ(checker.out_of_order, 0);
    EXPECT_EQ(frame_buffer.new_buffers_at_same_size, 0);
    EXPECT_EQ(integrated_buffer.new_buffers_at_same_size, 0);
    EXPECT_EQ(integrated_buffer.sizes_seen, 2) << "the size change reached the integrated image";

    const double growth_kib =
        static_cast<double>(resident_at_end - resident_after_warm_up) / 1024.0;
    std::printf("resident memory: %.0f KiB after 1000 passes, %.0f KiB after %lld (%+.0f KiB)\n",
                static_cast<double>(resident_after_warm_up) / 1024.0,
                static_cast<double>(resident_at_end) / 1024.0, static_cast<long long>(passes),
                growth_kib);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's quarantine holds freed memory on purpose, and checks leaks itself.
    std::printf("not compared: AddressSanitizer keeps freed memory resident\n");
#else
    EXPECT_LT(growth_kib, 1024.0);
#endif
}

}  // namespace
