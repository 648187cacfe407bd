#!/bin/bash
# The built binary on a machine with no camera, with its standard descriptors open, closed, or
# closed with no /dev/null to repair them, and the demo with a standard output that takes
# nothing. Standard error is compared byte for byte. Needs no display; needs strace. Only the
# first case needs the camera absent.
# Usage: binary_without_camera.sh BINARY [DEMO_BINARY]
# No -e: every case runs, and the statuses are what is checked.
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
binary=$1
demo=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check NAME STATUS EXPECTED_STATUS [EXPECTED_STDERR]: compares the run just made, whose
# standard output (if open) went to $work/out and standard error to $work/err; without
# EXPECTED_STDERR, standard error was closed and there is nothing to compare.
check() {
    [ "$2" -eq "$3" ] || problem "exit status $2, expected $3"
    [ ! -s "$work/out" ] || problem "wrote to standard output: $(head -c 200 "$work/out")"
    [ $# -lt 4 ] || printf '%s' "$4" | cmp -s - "$work/err" ||
        problem "standard error was (cat -A): $(cat -A "$work/err")"
    end_case "$1"
    rm -f "$work/out" "$work/err"
}

# The library's notes on the cameras it tried depend on the backends installed; at FATAL it
# keeps them to itself, so what is left is the tool's own.
if [ -e /dev/video0 ]; then
    echo "skipped: no camera (/dev/video0 exists, so this machine has one)"
else
    OPENCV_LOG_LEVEL=FATAL timeout 300 "$binary" >"$work/out" 2>"$work/err"
    check "no camera" $? 255 ""
fi

# The report would land in the next file opened (a camera's descriptor), so nothing is opened:
# a library line here would mean a camera was tried first.
timeout 300 "$binary" >&- 2>"$work/err"
check "standard output closed" $? 1 \
    $'frame-integrator: standard output is closed, so the report has nowhere to go\n'

# With no /dev/null to give a closed standard input or error to, the run ends before any camera
# could take that descriptor; 255 would mean it went on to look for one. strace makes every open
# of /dev/null fail; the leak checker stays off, since it can't trace a process strace traces.
without_dev_null=(env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
    strace -f -qq -o /dev/null -P /dev/null -e trace=openat -e inject=openat:error=EACCES)
"${without_dev_null[@]}" true || { echo "FAIL: strace cannot trace here"; exit 1; }
# Under an emulator, the emulator takes descriptor 0 for the binary before the tool starts.
if [ -n "${FRAME_INTEGRATOR_EMULATED:-}" ]; then
    echo "skipped: standard input closed, no /dev/null (under $FRAME_INTEGRATOR_EMULATED)"
else
    timeout 300 "${without_dev_null[@]}" "$binary" <&- >"$work/out" 2>"$work/err"
    check "standard input closed, no /dev/null" $? 1 ""
fi
timeout 300 "${without_dev_null[@]}" "$binary" 2>&- >"$work/out"
check "standard error closed, no /dev/null" $? 1

# A report that can't be written ends the run at the first pass, before any window opens. Of
# standard error, the tool's own lines are compared: the library's notes on the pipeline camera
# are its own and change with its release.
if [ -n "$demo" ]; then
    timeout 300 "$demo" >/dev/full 2>"$work/log"
    status=$?
    grep '^frame-integrator' "$work/log" >"$work/err"
    check "demo with standard output on /dev/full" $status 1 \
        $'frame-integrator: the report could not be written: No space left on device\n'
fi

exit $((failures > 0))
