#!/bin/bash
# The tool on Linux's virtual camera driver, vivid, on a machine of its own (the package's
# autopkgtest): one row per camera layout, each run under both capture backends (GStreamer,
# which the library tries first once its v4l2src is installed, and V4L2 alone). One line per
# case. The camera that should be read shows a steady picture and every other one a changing
# clock, so a report at the PSNR ceiling tells which camera the tool reads.
# Usage (as root, under an X display): camera_cases.sh TOOL
# Exits with 77 (skipped) where the kernel has no vivid to load.
# No -e: every case runs; a failed check marks its case and the run goes on.
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
source "$(dirname "$0")/../scripts/roots.sh"
modprobe --dry-run vivid || { echo "skipped: this kernel has no vivid module"; exit 77; }
tool=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt's runtime files; without the folder, Qt says so on standard error.
export XDG_RUNTIME_DIR=$work
report=$work/out
errors=$work/err

# The library's PSNR of two identical images.
ceiling=361.201999099219563
# The mode each release and backend opens vivid's camera in, keyed release/backend, and the
# nodes held while device 1 is read after the switch from device 0: the backends' own choices,
# checked on the releases named; on another, each case says what it saw and goes on.
declare -A expected_mode=(
    [bookworm/gstreamer]="3840x2160 at 2 fps" [bookworm/v4l2]="640x480 at 25 fps"
    [trixie/gstreamer]="640x480 at 120 fps" [trixie/v4l2]="640x480 at 30 fps")
declare -A expected_held_after_switch=(
    [bookworm/gstreamer]="/dev/video0 /dev/video1" [bookworm/v4l2]="/dev/video1"
    [trixie/gstreamer]="/dev/video1" [trixie/v4l2]="/dev/video1")

# The library's lines on one UVC-like camera (index 1 is its metadata node) at the log level $1
# (default: the library's own, WARNING) are as the README has them: in brackets, at least one
# warning at the default level, only errors at ERROR, none at FATAL; and the tool adds none of
# its own. Their words are the library's, and change with its releases.
library_lines_as_claimed() {
    local level=${1:-WARNING} levels
    levels=$(sed -nE 's/^\[ ?([A-Z]+):.*/\1/p' "$errors" | sort -u | xargs)
    problem "$(grep '^frame-integrator' "$errors" | sed "s/^/at log level $level, a line of its own: /")"
    case $level in
        WARNING) [[ " $levels " == *" WARN "* ]] || problem "no library warning at the default level" ;;
        ERROR) [ -z "${levels//ERROR/}" ] || problem "at log level ERROR, library lines of levels $levels" ;;
        FATAL) [ -z "$levels" ] || problem "at log level FATAL, library lines of levels $levels" ;;
    esac
}

# Loads vivid with the module parameters given, or leaves it unloaded with none; fails when
# either step does. Every capture node shows a clock that changes with every frame (the
# on-screen text).
load_vivid() {
    # modprobe -r fails on a module that is not loaded: whether it is gone is what counts.
    modprobe -r vivid 2>/dev/null
    [ ! -e /sys/module/vivid ] || { problem "vivid did not unload"; return 1; }
    [ $# -eq 0 ] || modprobe vivid "$@" || { problem "vivid did not load with $*"; return 1; }
}

# Runs the tool with the variables given until it has reported 3 frames and shown its windows.
start_and_wait() {
    start_tool env "$@" "$tool"
    wait_while_running report_has_lines "$report" 3 || { problem "fewer than 3 report lines"; return 1; }
    wait_while_running preview_windows_shown || { problem "no preview windows"; return 1; }
}

# What the tool was seen to do, $1, is $2; with $2 empty (not known for this release and
# backend), says what it was.
seen_as_expected() {
    [ -n "$2" ] || { echo "note: $host_release $backend: $1 (checked on the releases it is known for)"; return; }
    [ "$1" = "$2" ] || problem "$1; expected: $2"
}

# The capture nodes the tool holds open are $1, and no others.
check_held() {
    local held
    held=$(for fd in /proc/"$pid"/fd/*; do readlink "$fd"; done | grep '^/dev/video' | sort -u | xargs)
    seen_as_expected "holds '$held'" "${1:+holds '$1'}"
}

# Ends the case just run, titled $title: every report line must be whole, well formed and
# numbered 1, 2, 3, ...; a failed case shows the tool's standard error and ends the tool before
# the next case unloads the driver. The next case starts without the files of this one.
finish_case() {
    problem "$(report_faults)"
    [ ${#problems[@]} -eq 0 ] ||
        problem "its standard error began: $(head -n 20 "$errors" 2>/dev/null)"
    end_tool
    end_case "$host_release $backend: $title"
    rm -f "$report" "$errors"
}

# Each case sets its title first, and returns early once a step has failed.

# A camera layout: loads vivid with the parameters $2, makes node $3 steady (the test pattern
# without its on-screen text), and checks that the tool reads it while holding the nodes $4 and
# nothing else. $5, if given, names a check made while it runs.
reads_steady_camera() {
    title=$1
    load_vivid $2 || return
    v4l2-ctl -d "$3" -c osd_text_mode=2
    start_and_wait || return
    check_held "$4"
    [ -z "${5:-}" ] || "$5"
    stop_with_q problem
    problem "$(psnr_outside $ceiling $ceiling | sed 's/^/not the steady camera: /')"
}

# Whatever node the tool still holds, another program can set camera 0's format and stream from
# it while the tool reads camera 1.
camera_0_free_for_others() {
    timeout 300 v4l2-ctl -d /dev/video0 --set-fmt-video=width=640,height=480 --stream-mmap \
        --stream-count=3 &>/dev/null || problem "another program cannot stream from video0"
}

# One UVC-like camera, at the library's default log level, then at ERROR and FATAL; each run's
# standard error is judged whole, after q.
one_webcam() {
    local level
    reads_steady_camera "one UVC-like camera: reads video0, never holds video1, q ends with 0, the library's lines at the default level, ERROR and FATAL" \
        "n_devs=1 node_types=0x20001" /dev/video0 /dev/video0 || return
    library_lines_as_claimed
    for level in ERROR FATAL; do
        start_and_wait OPENCV_LOG_LEVEL=$level || return
        stop_with_q problem
        library_lines_as_claimed $level
    done
}

two_cameras() {
    local held=${expected_held_after_switch[$host_release/$backend]:-}
    reads_steady_camera "two cameras: reads video1, holds ${held:-what it holds}, video0 free for others" \
        "n_devs=2 node_types=0x1,0x1" /dev/video1 "$held" camera_0_free_for_others
}

two_webcams() {
    reads_steady_camera "two UVC-like cameras: reads camera A (video0), never camera B (video2)" \
        "n_devs=2 node_types=0x20001,0x20001" /dev/video0 /dev/video0
}

# One plain camera: the mode it streams in and who streams it, then an unplug mid-run.
mode_and_disconnect() {
    local expected=${expected_mode[$host_release/$backend]:-} streams streaming=v4l2
    title="mode ${expected:-as the backend picks} through $backend; disconnect mid-run: 1, one line of its own, every report line whole"
    load_vivid n_devs=1 node_types=0x1 || return
    start_and_wait || return
    streams=$(v4l2-ctl -d /dev/video0 --get-fmt-video --get-parm | paste -sd' ' |
        sed 's|.*Width/Height *: *\([0-9]*\)/\([0-9]*\).*Frames per second: *\([0-9]*\)\..*|\1x\2 at \3 fps|')
    seen_as_expected "streams $streams" "${expected:+streams $expected}"
    # GStreamer runs its camera source in a thread named after it.
    grep -qs '^v4l2src' /proc/"$pid"/task/*/comm && streaming=gstreamer
    [ "$streaming" = "$backend" ] || problem "the $streaming backend streams"
    v4l2-ctl -d /dev/video0 -c disconnect=1
    wait_for_exit
    [ "$status" -eq 1 ] || problem "exit status $status after the disconnect, expected 1"
    [ "$(grep -v '^\[' "$errors")" = "frame-integrator: the camera stopped delivering frames" ] ||
        problem "its own lines were: $(grep -v '^\[' "$errors")"
}

no_camera() {
    local layout
    title="no camera, or one at index 1 only: 255, nothing written"
    for layout in "" "vid_cap_nr=1"; do
        load_vivid $layout || return
        start_tool "$tool"
        wait_for_exit
        [ "$status" -eq 255 ] || problem "${layout:-no vivid}: exit status $status, expected 255"
        [ ! -s "$report" ] || problem "${layout:-no vivid}: wrote to standard output"
        ! grep -qv '^\[' "$errors" || problem "${layout:-no vivid}: lines of its own"
    done
}

for backend in gstreamer v4l2; do
    # The library tries GStreamer first; at priority 0 it leaves it out, and V4L2 opens.
    unset OPENCV_VIDEOIO_PRIORITY_GSTREAMER
    [ "$backend" = gstreamer ] || export OPENCV_VIDEOIO_PRIORITY_GSTREAMER=0
    for case in one_webcam mode_and_disconnect two_cameras two_webcams no_camera; do
        "$case"
        finish_case
    done
done
modprobe -r vivid
echo "camera cases on $host_release: $failures failed"
exit $((failures > 0))
