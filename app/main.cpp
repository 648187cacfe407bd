// frame-integrator: wires the real cameras and preview windows into a run on the console.
#include "console.hpp"
#include "devices.hpp"

int main()
{
    return run_on_console(open_camera, show_previews_in_windows);
}
