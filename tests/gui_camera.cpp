// The real loop and preview windows over a camera-paced test source of fresh noise in every
// frame, which the integration smooths, so that the frame and the integrated image tell apart.
// Used by the window test: says on standard error which key each pass got, so that the test
// sees a key arrive before it judges what the key did, and the passes it showed at the end.
#include <cstdint>
#include <iostream>

#include "console.hpp"
#include "devices.hpp"
#include "test_keys.hpp"

namespace {

// 320x240 BGR snow at 30 fps. The source is not live and the appsink paces the frames by the
// clock: a live source that falls behind on a busy machine repeats its last frame, and a
// repeated frame brings no fresh noise.
constexpr const char* noise_pipeline =
    "videotestsrc pattern=snow ! video/x-raw,format=BGR,width=320,height=240,framerate=30/1"
    " ! appsink";

}  // namespace

int main()
{
    std::int64_t passes = 0;
    const auto count_and_show = [&passes](const cv::Mat& src, const cv::Mat& src_seki) {
        ++passes;
        const int key = show_previews_in_windows(src, src_seki);
        if (key != key_none) {
            std::cerr << "key " << key << " in pass " << passes << '\n';  // unbuffered
        }
        return key;
    };
    const int status = run_on_console(pipeline_as_camera(noise_pipeline), count_and_show);
    std::cerr << "passes shown: " << passes << '\n';
    return status;
}
