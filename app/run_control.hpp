// Run control: the choice of camera, the priming reads, the pass loop and the exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

// Exit statuses of a run.
constexpr int exit_quit = 0;        // the user pressed q
constexpr int exit_no_camera = -1;  // device 0 did not open
constexpr int exit_failure = 1;     // the camera stopped, the report failed, or a library error

// Opens the capture for a camera's device index.
using open_capture_fn = std::function<cv::VideoCapture(int device_index)>;

// Shows the newest frame and the integrated image; returns the key pressed, or -1.
using show_previews_fn = std::function<int(const cv::Mat& src, const cv::Mat& src_seki)>;

// One pass's work on a frame already read: folds src into src_seki, measures the PSNR of
// src against the result and writes the report line for frame_number to report_out.
// Returns false when the line could not be written; errno then holds the system's reason,
// or 0 when the stream failed without one.
bool process_frame(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number,
                   std::ostream& report_out);

// Runs the tool from device selection to shutdown and returns its exit status.
// Report lines go to report_out, the one line explaining a failure to error_out. A report
// line that can't be written ends the run with exit_failure.
int run_frame_integrator(const open_capture_fn& open_capture, const show_previews_fn& show_previews,
                         std::ostream& report_out, std::ostream& error_out);
