// Tests of the report line.
#include "report.hpp"

#include <iomanip>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Counts the flushes that reach the buffer.
struct flush_counter : std::stringbuf {
    int flushes = 0;
    int sync() override
    {
        ++flushes;
        return std::stringbuf::sync();
    }
};

TEST(write_report_line, writes_and_flushes_one_line_whatever_the_stream_was_set_to)
{
    struct line_case {
        std::int64_t frame_number;
        double psnr;
        const char* expected;
    };
    const std::vector<line_case> cases = {
        {1, 30.25, "frame_number =      1  PSNR = 30.250000000000000[dB]\n"},
        {123456, 7.5, "frame_number = 123456  PSNR = 7.500000000000000[dB]\n"},
        {1234567, 361.20199909921956, "frame_number = 1234567  PSNR = 361.201999099219563[dB]\n"},
        {5000000000, 0.1, "frame_number = 5000000000  PSNR = 0.100000000000000[dB]\n"},
        {42, 1e20, "frame_number =     42  PSNR = 100000000000000000000.000000000000000[dB]\n"},
        {9, 43.01196999889036, "frame_number =      9  PSNR = 43.011969998890358[dB]\n"},
    };
    // One stream for all lines, set to another notation first: each line sets its own.
    flush_counter buffer;
    std::ostream out(&buffer);
    out << std::scientific << std::setprecision(3);
    for (const auto& c : cases) {
        buffer.str("");
        buffer.flushes = 0;
        write_report_line(out, c.frame_number, c.psnr);
        EXPECT_EQ(buffer.str(), c.expected);
        EXPECT_EQ(buffer.flushes, 1);
    }
}

}  // namespace
