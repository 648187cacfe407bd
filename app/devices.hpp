// The real things a run can be wired to: cameras, a GStreamer pipeline standing in for one,
// and the two preview windows.
#pragma once

#include <functional>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

// The real camera at device_index, through any capture backend.
cv::VideoCapture open_camera(int device_index);

// A camera source for machines without a camera: the GStreamer pipeline is device 0,
// and there is no device 1.
std::function<cv::VideoCapture(int device_index)> pipeline_as_camera(const std::string& pipeline);

// The real preview windows: shows both images and polls the keyboard for 1 ms.
int show_previews_in_windows(const cv::Mat& src, const cv::Mat& src_seki);
