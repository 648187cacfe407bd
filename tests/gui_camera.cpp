// The real loop and preview windows over a camera-paced test source whose frame and
// integrated image tell apart: a solid-colour border around a centre of fresh noise in every
// frame, which the integration smooths. Used by the window test; reports the passes it
// showed on standard error at the end.
#include <cstdint>
#include <iostream>

#include "console.hpp"
#include "devices.hpp"

namespace {

// 320x240 BGR at 30 fps: a (40, 160, 220) border, a colour no part of the window chrome
// uses, around 160x120 of snow. Mixed as BGRA so the border keeps its exact colour. The
// sources are not live and the appsink paces the frames by the clock: a live source that
// falls behind on a busy machine makes the mixer repeat its last snow, and a repeated frame
// brings no fresh noise.
constexpr const char* noisy_centre_pipeline =
    "videotestsrc pattern=solid-color foreground-color=0xffdca028"
    " ! video/x-raw,format=BGRA,width=320,height=240,framerate=30/1"
    " ! compositor name=mix sink_1::xpos=80 sink_1::ypos=60"
    " ! video/x-raw,format=BGRA ! videoconvert ! video/x-raw,format=BGR ! appsink"
    " videotestsrc pattern=snow"
    " ! video/x-raw,format=BGRA,width=160,height=120,framerate=30/1 ! mix.";

}  // namespace

int main()
{
    std::int64_t passes = 0;
    const auto count_and_show = [&passes](const cv::Mat& src, const cv::Mat& src_seki) {
        ++passes;
        return show_previews_in_windows(src, src_seki);
    };
    const int status = run_on_console(pipeline_as_camera(noisy_centre_pipeline), count_and_show);
    std::cerr << "passes shown: " << passes << '\n';
    return status;
}
