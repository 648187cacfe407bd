// The process's console around a run: its standard streams and descriptors.
#pragma once

#include "run_control.hpp"

// Runs the tool with its report on standard output and its failures on standard error.
// A closed standard input or error is first opened on /dev/null, so that no camera takes
// its descriptor; a closed standard output ends the run with exit_failure before any camera
// is opened, since the report would go into whatever file took descriptor 1.
int run_on_console(const open_capture_fn& open_capture, const show_previews_fn& show_previews);
