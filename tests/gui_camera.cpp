// The real loop and preview windows over a live, camera-paced solid-colour test source.
// Used by the window test; reports the passes it showed on standard error at the end.
#include <cstdint>
#include <iostream>

#include "devices.hpp"

namespace {

// 320x240 BGR (40, 160, 220) at 30 fps: a colour no part of the window chrome uses.
constexpr const char* solid_colour_pipeline =
    "videotestsrc is-live=true pattern=solid-color foreground-color=0xffdca028"
    " ! video/x-raw,format=BGR,width=320,height=240,framerate=30/1 ! appsink";

}  // namespace

int main()
{
    std::int64_t passes = 0;
    const auto count_and_show = [&passes](const cv::Mat& src, const cv::Mat& src_seki) {
        ++passes;
        return show_previews_in_windows(src, src_seki);
    };
    const int status = run_on_console(pipeline_as_camera(solid_colour_pipeline), count_and_show);
    std::cerr << "passes shown: " << passes << std::endl;
    return status;
}
