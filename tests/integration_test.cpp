// Tests of the integration step and the PSNR measurement.
#include "integration.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct element_case {
    std::uint8_t integrated;
    std::uint8_t frame;
    std::uint8_t expected;
};

// The mean of integrated image and frame, rounded half to even by the library.
const std::vector<element_case> element_cases = {
    {255, 255, 255},  // a steady white scene stays white
    {200, 100, 150},  // a bright pair is averaged, not clipped
    {0, 255, 128},    // 127.5 rounds to even
    {255, 0, 128},    // the same, the other way round
    {128, 128, 128},  // bright and steady stays put
    {7, 7, 7},        // equal values are kept
    {127, 127, 127},  // equal values just below the middle are kept
    {0, 0, 0},        // black stays black
    {1, 0, 0},        // 0.5 rounds to even
    {3, 0, 2},        // 1.5 rounds to even
    {2, 3, 2},        // 2.5 rounds to even
    {100, 154, 127},  // sum 254, the largest sum a saturating add leaves alone
    {254, 1, 128},    // sum 255
};

// The integrated image, frame and expected result of every case as matrices.
struct element_matrices {
    cv::Mat integrated;
    cv::Mat frame;
    cv::Mat expected;
};

// One row per case; channel c of row i holds case (i + c) so channels can't be confused.
element_matrices make_element_matrices(int channels)
{
    const int rows = static_cast<int>(element_cases.size());
    const cv::Mat empty(rows, 1, CV_8UC(channels));
    element_matrices m{empty.clone(), empty.clone(), empty.clone()};
    for (int i = 0; i < rows; ++i) {
        for (int c = 0; c < channels; ++c) {
            const auto& row = element_cases[static_cast<std::size_t>((i + c) % rows)];
            m.integrated.ptr<std::uint8_t>(i)[c] = row.integrated;
            m.frame.ptr<std::uint8_t>(i)[c] = row.frame;
            m.expected.ptr<std::uint8_t>(i)[c] = row.expected;
        }
    }
    return m;
}

TEST(integrate_frame, averages_each_element_in_place_for_one_and_three_channels)
{
    for (int channels : {1, 3}) {
        SCOPED_TRACE(channels);
        const element_matrices m = make_element_matrices(channels);
        cv::Mat src_seki = m.integrated;
        const std::uint8_t* buffer = src_seki.data;

        integrate_frame(m.frame, src_seki);

        EXPECT_EQ(src_seki.data, buffer) << "the integrated image must keep its buffer";
        EXPECT_EQ(src_seki.type(), CV_8UC(channels));
        for (int i = 0; i < src_seki.rows; ++i) {
            for (int c = 0; c < channels; ++c) {
                EXPECT_EQ(src_seki.ptr<std::uint8_t>(i)[c], m.expected.ptr<std::uint8_t>(i)[c])
                    << "row " << i << " channel " << c;
            }
        }
    }
}

TEST(integrate_frame, keeps_wider_element_types)
{
    cv::Mat src_seki(2, 2, CV_16UC1, cv::Scalar(60000));
    const cv::Mat src(2, 2, CV_16UC1, cv::Scalar(50000));
    integrate_frame(src, src_seki);
    EXPECT_EQ(src_seki.type(), CV_16UC1);
    EXPECT_EQ(src_seki.at<std::uint16_t>(1, 1), 55000);
}

TEST(integrate_frame, restarts_from_a_frame_of_another_size_or_type)
{
    struct restart_case {
        const char* name;
        cv::Mat frame;
    };
    const std::vector<restart_case> cases = {
        {"larger", cv::Mat(6, 5, CV_8UC3, cv::Scalar(9, 8, 7))},
        {"one channel", cv::Mat(4, 4, CV_8UC1, cv::Scalar(9))},
        {"transposed", cv::Mat(4, 2, CV_8UC3, cv::Scalar(1, 2, 3))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat src_seki(2, 4, CV_8UC3, cv::Scalar(200, 200, 200));
        integrate_frame(c.frame, src_seki);
        EXPECT_EQ(src_seki.type(), c.frame.type());
        EXPECT_EQ(src_seki.size(), c.frame.size());
        EXPECT_EQ(cv::norm(src_seki, c.frame, cv::NORM_INF), 0.0);
        EXPECT_NE(src_seki.data, c.frame.data) << "a copy, not a second header on the frame";
    }
}

TEST(measure_psnr, matches_values_worked_out_by_hand)
{
    // One channel with squared differences 4, 0, 9, 0: MSE 3.25.
    EXPECT_NEAR(measure_psnr((cv::Mat_<std::uint8_t>(2, 2) << 10, 20, 30, 40),
                             (cv::Mat_<std::uint8_t>(2, 2) << 12, 20, 27, 40)),
                10.0 * std::log10(255.0 * 255.0 / 3.25), 1e-9);
    // Three channels, one of them off by 6: MSE 12, so every channel counts.
    EXPECT_NEAR(measure_psnr(cv::Mat(1, 1, CV_8UC3, cv::Scalar(10, 10, 10)),
                             cv::Mat(1, 1, CV_8UC3, cv::Scalar(10, 10, 16))),
                10.0 * std::log10(255.0 * 255.0 / 12.0), 1e-9);
}

}  // namespace
