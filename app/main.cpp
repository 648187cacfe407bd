// frame-integrator: wires the real cameras, windows and console into the run.
#include <iostream>

#include "run_control.hpp"

int main()
{
    return run_frame_integrator(open_camera, show_previews_in_windows, std::cout, std::cerr);
}
