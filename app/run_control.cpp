// The main loop: select a camera, prime the integrated image, then one pass per frame until q.
#include "run_control.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <ostream>
#include <string>

#include "integration.hpp"
#include "report.hpp"

namespace {

constexpr int first_device_index = 0;
constexpr int second_device_index = 1;

// Only lower-case q ends the run; Q (81) and Esc (27) do not.
constexpr int quit_key = 'q';

// A read yields no frame once the camera is unplugged or a stream has ended.
bool read_frame(cv::VideoCapture& cap, cv::Mat& frame)
{
    return cap.read(frame) && !frame.empty();
}

// Says in one line why the run failed, and gives the status for it.
int fail_with(std::ostream& error_out, const std::string& reason)
{
    error_out << "frame-integrator: " << reason << '\n';
    error_out.flush();
    return exit_failure;
}

int report_camera_stopped(std::ostream& error_out)
{
    return fail_with(error_out, "the camera stopped delivering frames");
}

// A lost report line must not pass for a success; the lines written before it stay.
int report_not_written(std::ostream& error_out, int error_number)
{
    return fail_with(error_out, std::string("the report could not be written: ") +
                                    (error_number != 0 ? std::strerror(error_number)
                                                       : "the output stream failed"));
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

    // The first frame seeds the integrated image; the second is overwritten unused by pass 1.
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
        errno = 0;  // so that a failed write leaves the system's reason, and no older one
        write_report_line(report_out, frame_number, psnr);
        if (!report_out) {
            return report_not_written(error_out, errno);
        }
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
        return fail_with(error_out, first_line(error.what()));
    }
}
