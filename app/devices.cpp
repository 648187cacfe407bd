// The real cameras, the pipeline camera, the two preview windows and the console.
#include "devices.hpp"

#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include <opencv2/highgui.hpp>

namespace {

constexpr int pipeline_device_index = 0;

// Long enough for the windows to process their events without slowing the loop.
constexpr int key_wait_ms = 1;

constexpr const char* source_window_title = "Source image";
constexpr const char* integrated_window_title = "Source_seki image";

bool descriptor_open(int descriptor)
{
    return fcntl(descriptor, F_GETFD) != -1;
}

// Gives a closed descriptor to /dev/null; false if that fails.
bool open_on_dev_null(int descriptor, int flags)
{
    if (descriptor_open(descriptor)) {
        return true;
    }
    const int opened = open("/dev/null", flags);
    if (opened == -1) {
        return false;
    }
    // open() took the lowest free descriptor, which is ours unless a lower one is closed too.
    if (opened != descriptor) {
        const bool moved = dup2(opened, descriptor) == descriptor;
        close(opened);
        return moved;
    }
    return true;
}

}  // namespace

cv::VideoCapture open_camera(int device_index)
{
    return cv::VideoCapture(device_index, cv::CAP_ANY);
}

open_capture_fn pipeline_as_camera(const std::string& pipeline)
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

int run_on_console(const open_capture_fn& open_capture, const show_previews_fn& show_previews)
{
    const bool standard_output_open = descriptor_open(STDOUT_FILENO);
    if (!open_on_dev_null(STDIN_FILENO, O_RDONLY) || !open_on_dev_null(STDERR_FILENO, O_WRONLY)) {
        return exit_failure;  // without /dev/null, nothing is safe to write to
    }
    if (!standard_output_open) {
        std::cerr
            << "frame-integrator: standard output is closed, so the report has nowhere to go\n";
        return exit_failure;
    }
    return run_frame_integrator(open_capture, show_previews, std::cout, std::cerr);
}
