// The run on the process's standard streams, once their descriptors are safe to use.
#include "console.hpp"

#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

bool descriptor_open(int descriptor)
{
    return fcntl(descriptor, F_GETFD) != -1;
}

// Gives a closed descriptor to /dev/null; false if that fails.
bool open_on_dev_null(int descriptor, int flags)
{
    if (descriptor_open(descriptor)) {
        return true;
    }
    const int opened = open("/dev/null", flags);
    if (opened == -1) {
        return false;
    }
    // open() took the lowest free descriptor, which is ours unless a lower one is closed too.
    if (opened != descriptor) {
        const bool moved = dup2(opened, descriptor) == descriptor;
        close(opened);
        return moved;
    }
    return true;
}

}  // namespace

int run_on_console(const open_capture_fn& open_capture, const show_previews_fn& show_previews)
{
    const bool standard_output_open = descriptor_open(STDOUT_FILENO);
    if (!open_on_dev_null(STDIN_FILENO, O_RDONLY) || !open_on_dev_null(STDERR_FILENO, O_WRONLY)) {
        return exit_failure;  // without /dev/null, nothing is safe to write to
    }
    if (!standard_output_open) {
        std::cerr
            << "frame-integrator: standard output is closed, so the report has nowhere to go\n";
        return exit_failure;
    }
    return run_frame_integrator(open_capture, show_previews, std::cout, std::cerr);
}
