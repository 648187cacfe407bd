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

TEST(integrate_frame, averages_each_element_in_place)
{
    // Each case in the first channel, the next two in the others, so channels can't be confused.
    const std::size_t count = element_cases.size();
    for (std::size_t i = 0; i < count; ++i) {
        const element_case& a = element_cases[i];
        const element_case& b = element_cases[(i + 1) % count];
        const element_case& c = element_cases[(i + 2) % count];
        cv::Mat src_seki(1, 1, CV_8UC3, cv::Scalar(a.integrated, b.integrated, c.integrated));
        const std::uint8_t* buffer = src_seki.data;

        integrate_frame(cv::Mat(1, 1, CV_8UC3, cv::Scalar(a.frame, b.frame, c.frame)), src_seki);

        EXPECT_EQ(src_seki.data, buffer) << "the integrated image must keep its buffer";
        EXPECT_EQ(src_seki.type(), CV_8UC3);
        EXPECT_EQ(src_seki.at<cv::Vec3b>(0, 0), cv::Vec3b(a.expected, b.expected, c.expected))
            << "cases " << i << ", " << (i + 1) % count << " and " << (i + 2) % count;
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
    // A larger frame, one of one channel, one transposed (as many elements, another shape) and
    // one of 16-bit elements, beyond what 8 bits hold.
    for (const cv::Mat& frame :
         {cv::Mat(6, 5, CV_8UC3, cv::Scalar(9, 8, 7)), cv::Mat(4, 4, CV_8UC1, cv::Scalar(9)),
          cv::Mat(4, 2, CV_8UC3, cv::Scalar(1, 2, 3)),
          cv::Mat(2, 4, CV_16UC3, cv::Scalar(900, 800, 700))}) {
        cv::Mat src_seki(2, 4, CV_8UC3, cv::Scalar::all(200));
        integrate_frame(frame, src_seki);
        EXPECT_EQ(src_seki.type(), frame.type());
        EXPECT_EQ(src_seki.size(), frame.size());
        EXPECT_EQ(cv::norm(src_seki, frame, cv::NORM_INF), 0.0);
        EXPECT_NE(src_seki.data, frame.data) << "a copy, not a second header on the frame";
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

TEST(measure_psnr, tells_the_noise_of_a_steady_scene)
{
    // Frames of noise of standard deviation sigma around a steady scene: the integrated image
    // keeps a third of the noise's variance, so the PSNR settles near
    // 20 log10(255 / sigma) + 10 log10(3).
    for (const double sigma : {5.0, 10.0, 20.0}) {
        cv::Mat frame(64, 64, CV_8UC1);
        cv::randn(frame, 128, sigma);
        cv::Mat src_seki = frame.clone();
        double settled_psnr = 0.0;
        for (int pass = 1; pass <= 60; ++pass) {
            cv::randn(frame, 128, sigma);
            integrate_frame(frame, src_seki);
            settled_psnr += pass > 10 ? measure_psnr(frame, src_seki) / 50.0 : 0.0;
        }
        EXPECT_NEAR(settled_psnr, 20.0 * std::log10(255.0 / sigma) + 10.0 * std::log10(3.0), 0.3)
            << "sigma " << sigma;
    }
}

}  // namespace
