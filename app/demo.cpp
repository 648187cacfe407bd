// frame-integrator-demo: the tool with a synthetic live camera, for machines without one.
#include "console.hpp"
#include "devices.hpp"

namespace {

// A yellow ball over a blue-grey scene with sensor-like noise, 640x480 BGR at 30 fps. The
// sources are not live and the appsink paces the frames by the clock, so that every frame
// brings fresh noise: a live source that falls behind repeats its last frame.
constexpr const char* noisy_scene_pipeline =
    "videotestsrc pattern=ball background-color=0xff305070 foreground-color=0xfff0c040"
    " ! video/x-raw,width=640,height=480,framerate=30/1"
    " ! compositor name=mix sink_1::alpha=0.3"
    " ! videoconvert ! video/x-raw,format=BGR ! appsink drop=true max-buffers=1"
    " videotestsrc pattern=snow ! video/x-raw,width=640,height=480,framerate=30/1 ! mix.";

}  // namespace

int main()
{
    return run_on_console(pipeline_as_camera(noisy_scene_pipeline), show_previews_in_windows);
}
