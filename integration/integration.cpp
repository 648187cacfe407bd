// Integration step and PSNR measurement.
#include "integration.hpp"

namespace {

constexpr double psnr_peak_value = 255.0;

bool same_size_and_type(const cv::Mat& a, const cv::Mat& b)
{
    return a.size == b.size && a.type() == b.type();
}

}  // namespace

void integrate_frame(const cv::Mat& src, cv::Mat& src_seki)
{
    if (!same_size_and_type(src, src_seki)) {
        src.copyTo(src_seki);
        return;
    }
    // The library evaluates this as one weighted sum (0.5 a + 0.5 b) with a
    // single rounding at the end. Adding first would saturate 8-bit sums at
    // 255 and turn every bright element into 128.
    src_seki = (src_seki + src) / 2.0;
}

double measure_psnr(const cv::Mat& src, const cv::Mat& src_seki)
{
    return cv::PSNR(src, src_seki, psnr_peak_value);
}
