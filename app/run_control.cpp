// The main loop: select a camera, prime the accumulator, then one pass per frame until q.
#include "run_control.hpp"

#include <cstdint>
#include <exception>
#include <ostream>
#include <string>

#include <opencv2/highgui.hpp>

#include "integration.hpp"
#include "report.hpp"

namespace {

constexpr int first_device_index = 0;
constexpr int second_device_index = 1;

// Only lower-case q ends the run; Q (81) and Esc (27) do not.
constexpr int quit_key = 'q';

// Long enough for the windows to process their events without slowing the loop.
constexpr int key_wait_ms = 1;

constexpr const char* source_window_title = "Source image";
constexpr const char* integrated_window_title = "Source_seki image";

// A read yields no frame once the camera is unplugged or a stream has ended.
bool read_frame(cv::VideoCapture& cap, cv::Mat& frame)
{
    return cap.read(frame) && !frame.empty();
}

int report_camera_stopped(std::ostream& error_out)
{
    error_out << "frame-integrator: the camera stopped delivering frames" << std::endl;
    return exit_failure;
}

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

int run_passes(const open_capture_fn& open_capture, const show_previews_fn& show_previews,
               std::ostream& report_out, std::ostream& error_out)
{
    // Every object of the run is a local here, released in reverse order on any way out.
    cv::Mat src;
    cv::Mat src_seki;

    cv::VideoCapture cap = open_capture(first_device_index);
    if (!cap.isOpened()) {
        return exit_no_camera;
    }
    cv::VideoCapture cap1 = open_capture(second_device_index);
    if (cap1.isOpened()) {
        // The second camera wins whenever it opens; this closes device 0 at once.
        cap = cap1;
    }

    // The first frame seeds the accumulator; the second is overwritten unused by pass 1.
    if (!read_frame(cap, src_seki) || !read_frame(cap, src)) {
        return report_camera_stopped(error_out);
    }

    std::int64_t frame_number = 0;
    double psnr = 0.0;
    for (;;) {
        ++frame_number;
        if (!read_frame(cap, src)) {
            return report_camera_stopped(error_out);
        }
        integrate_frame(src, src_seki);
        psnr = measure_psnr(src, src_seki);
        write_report_line(report_out, frame_number, psnr);
        if (show_previews(src, src_seki) == quit_key) {
            return exit_quit;
        }
    }
}

}  // namespace

int run_frame_integrator(const open_capture_fn& open_capture, const show_previews_fn& show_previews,
                         std::ostream& report_out, std::ostream& error_out)
{
    try {
        return run_passes(open_capture, show_previews, report_out, error_out);
    } catch (const std::exception& error) {
        // The run's objects are already released here; say what happened and fail.
        error_out << "frame-integrator: " << first_line(error.what()) << std::endl;
        return exit_failure;
    }
}

cv::VideoCapture open_camera(int device_index)
{
    return cv::VideoCapture(device_index, cv::CAP_ANY);
}

open_capture_fn pipeline_as_camera(const std::string& pipeline)
{
    return [pipeline](int device_index) {
        return device_index == first_device_index ? cv::VideoCapture(pipeline, cv::CAP_GSTREAMER)
                                                  : cv::VideoCapture();
    };
}

int show_previews_in_windows(const cv::Mat& src, const cv::Mat& src_seki)
{
    cv::imshow(source_window_title, src);
    cv::imshow(integrated_window_title, src_seki);
    return cv::waitKey(key_wait_ms);
}
