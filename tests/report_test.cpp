// Tests of the report line.
#include "report.hpp"

#include <iomanip>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(write_report_line, formats_numbers_of_every_width)
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
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        write_report_line(out, c.frame_number, c.psnr);
        EXPECT_EQ(out.str(), c.expected);
    }
}

TEST(write_report_line, keeps_the_format_line_after_line_on_one_stream)
{
    std::ostringstream out;
    out << std::scientific << std::setprecision(3);
    write_report_line(out, 9, 43.01196999889036);
    write_report_line(out, 10, 2.0);
    EXPECT_EQ(out.str(),
              "frame_number =      9  PSNR = 43.011969998890358[dB]\n"
              "frame_number =     10  PSNR = 2.000000000000000[dB]\n");
}

// Counts the flushes that reach the buffer.
struct flush_counter : std::stringbuf {
    int flushes = 0;
    int sync() override
    {
        ++flushes;
        return std::stringbuf::sync();
    }
};

TEST(write_report_line, flushes_every_line)
{
    flush_counter buffer;
    std::ostream out(&buffer);
    write_report_line(out, 1, 1.0);
    write_report_line(out, 2, 1.0);
    EXPECT_EQ(buffer.flushes, 2);
}

}  // namespace
