// The main loop: choose a camera, prime the integrated image, then one pass per frame until q.
#include "run_control.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <ostream>
#include <string>

#include "integration.hpp"
#include "report.hpp"

namespace {

// Device 0 must open; device 1 is read instead whenever it opens too.
constexpr int required_device_index = 0;
constexpr int preferred_device_index = 1;

// Only lower-case q ends the run; Q (81) and Esc (27) do not.
constexpr int quit_key = 'q';

// Says in one line why the run failed, and gives the status for it.
int fail_with(std::ostream& error_out, const std::string& reason)
{
    error_out << "frame-integrator: " << reason << '\n';
    error_out.flush();
    return exit_failure;
}

int fail_camera_stopped(std::ostream& error_out)
{
    return fail_with(error_out, "the camera stopped delivering frames");
}

// A lost report line must not pass for a success; the lines written before it stay.
int fail_report_not_written(std::ostream& error_out, int error_number)
{
    return fail_with(error_out, std::string("the report could not be written: ") +
                                    (error_number != 0 ? std::strerror(error_number)
                                                       : "the output stream failed"));
}

// The camera to read: device 1 when it opens, else device 0; unopened when device 0 is
// missing, whether or not device 1 is there.
cv::VideoCapture choose_camera(const open_capture_fn& open_capture)
{
    cv::VideoCapture cap = open_capture(required_device_index);
    if (!cap.isOpened()) {
        return cap;
    }
    cv::VideoCapture cap1 = open_capture(preferred_device_index);
    if (cap1.isOpened()) {
        cap = cap1;  // the two handles now share device 1; device 0's handle is released
    }
    return cap;
}

// A read yields no frame once the camera is unplugged or a stream has ended.
bool read_frame(cv::VideoCapture& cap, cv::Mat& frame)
{
    return cap.read(frame) && !frame.empty();
}

// The first frame seeds the integrated image; the second is overwritten unused by pass 1.
bool prime(cv::VideoCapture& cap, cv::Mat& src, cv::Mat& src_seki)
{
    return read_frame(cap, src_seki) && read_frame(cap, src);
}

int run_passes(cv::VideoCapture& cap, cv::Mat& src, cv::Mat& src_seki,
               const show_previews_fn& show_previews, std::ostream& report_out,
               std::ostream& error_out)
{
    for (std::int64_t frame_number = 1;; ++frame_number) {
        if (!read_frame(cap, src)) {
            return fail_camera_stopped(error_out);
        }
        if (!process_frame(src, src_seki, frame_number, report_out)) {
            return fail_report_not_written(error_out, errno);
        }
        if (show_previews(src, src_seki) == quit_key) {
            return exit_quit;
        }
    }
}

int run(const open_capture_fn& open_capture, const show_previews_fn& show_previews,
        std::ostream& report_out, std::ostream& error_out)
{
    // Every object of the run is a local, released in reverse order on any way out.
    cv::Mat src;
    cv::Mat src_seki;
    cv::VideoCapture cap = choose_camera(open_capture);
    if (!cap.isOpened()) {
        return exit_no_camera;
    }
    if (!prime(cap, src, src_seki)) {
        return fail_camera_stopped(error_out);
    }
    return run_passes(cap, src, src_seki, show_previews, report_out, error_out);
}

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

}  // namespace

bool process_frame(const cv::Mat& src, cv::Mat& src_seki, std::int64_t frame_number,
                   std::ostream& report_out)
{
    integrate_frame(src, src_seki);
    const double psnr = measure_psnr(src, src_seki);
    errno = 0;  // so that a failed write leaves the system's reason, and no older one
    write_report_line(report_out, frame_number, psnr);
    return static_cast<bool>(report_out);
}

int run_frame_integrator(const open_capture_fn& open_capture, const show_previews_fn& show_previews,
                         std::ostream& report_out, std::ostream& error_out)
{
    try {
        return run(open_capture, show_previews, report_out, error_out);
    } catch (const std::exception& error) {
        // The run's objects are already released here; say what happened and fail.
        return fail_with(error_out, first_line(error.what()));
    }
}
