// The real cameras, the pipeline camera and the two preview windows.
#include "devices.hpp"

#include <opencv2/highgui.hpp>

namespace {

constexpr int pipeline_device_index = 0;

// Long enough for the windows to process their events without slowing the loop.
constexpr int key_wait_ms = 1;

constexpr const char* source_window_title = "Source image";
constexpr const char* integrated_window_title = "Source_seki image";

}  // namespace

cv::VideoCapture open_camera(int device_index)
{
    return cv::VideoCapture(device_index, cv::CAP_ANY);
}

std::function<cv::VideoCapture(int device_index)> pipeline_as_camera(const std::string& pipeline)
{
    return [pipeline](int device_index) {
        return device_index == pipeline_device_index ? cv::VideoCapture(pipeline, cv::CAP_GSTREAMER)
                                                     : cv::VideoCapture();
    };
}

int show_previews_in_windows(const cv::Mat& src, const cv::Mat& src_seki)
{
    cv::imshow(source_window_title, src);
    cv::imshow(integrated_window_title, src_seki);
    return cv::waitKey(key_wait_ms);
}
