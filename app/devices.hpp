// The real things the loop is wired to: cameras, a GStreamer pipeline standing in for one,
// the two preview windows and the console.
#pragma once

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "run_control.hpp"

// The real camera at device_index, through any capture backend.
cv::VideoCapture open_camera(int device_index);

// A camera source for machines without a camera: the GStreamer pipeline is device 0,
// and there is no device 1.
open_capture_fn pipeline_as_camera(const std::string& pipeline);

// The real preview windows: shows both images and polls the keyboard for 1 ms.
int show_previews_in_windows(const cv::Mat& src, const cv::Mat& src_seki);

// Runs the tool with its report on standard output and its failures on standard error.
// A closed standard input or error is first opened on /dev/null, so that no camera takes
// its descriptor; a closed standard output ends the run with exit_failure before any camera
// is opened, since the report would go into whatever file took descriptor 1.
int run_on_console(const open_capture_fn& open_capture,
                   const show_previews_fn& show_previews = show_previews_in_windows);
