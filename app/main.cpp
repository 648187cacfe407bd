// frame-integrator: wires the real cameras, windows and console into the run.
#include "devices.hpp"

int main()
{
    return run_on_console(open_camera);
}
