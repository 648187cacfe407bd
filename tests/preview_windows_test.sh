#!/bin/bash
# The real preview windows of a live run on one kind of desktop: their titles, which picture
# each shows, a report that flows while no key is pressed, the keys, and what the tool writes
# besides its report. On X11 then: q in the other window, Ctrl+C, a closed pipe, and the demo
# with standard input and error closed, showing its own noisy scene.
# ROUTE is one of:
#   x11       an X server; the windows are found, shot and driven with xdotool and import.
#   wayland   a GNOME-like Wayland session (with_nested_weston.sh) with qtwayland5: native
#             Wayland windows, seen and shot as the compositor shows them.
#   xwayland  the same session without qtwayland5, which Qt's plugin folder loses in a private
#             mount namespace: X11 windows on Xwayland, and one line from Qt about it; then
#             without Xwayland, or with Qt told to use Wayland, where Qt aborts the run.
# Usage: preview_windows_test.sh ROUTE GUI_CAMERA ARTIFACT_DIR [DEMO]
# No -e: a failed step is reported by fail, with the screenshots and logs kept.
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
route=$1
camera=$2
artifacts=$3
demo=${4:-}

rm -rf "$artifacts"
mkdir -p -m 700 "$artifacts"
# Without a runtime folder Qt says so on standard error, which the checks below would count.
[ -n "${XDG_RUNTIME_DIR:-}" ] || export XDG_RUNTIME_DIR=$artifacts
report=$artifacts/report.log
errors=$artifacts/stderr.log
pid=""
# However the script ends, even by an error of its own, the tool it started ends with it.
trap end_tool EXIT
fail() {
    echo "FAIL ($route): $*; logs kept in $artifacts; the tool's standard error ends:"
    [ -z "${COMPOSITOR_WINDOW:-}" ] || weston-debug scene-graph >"$artifacts/scene-graph.txt" 2>&1
    tail -n 40 "$errors"
    exit 1
}

# Without qtwayland5, Qt says on standard error that it falls back to X11. What else Qt, Mesa
# or GStreamer write there depends on the machine (a compositor without a GPU makes Mesa talk).
qt_note=""
wrap=()  # what the test camera runs under
if [ "$route" = xwayland ]; then
    wrap=(without_qt_wayland)
    qt_note='qt.qpa.plugin: Could not find the Qt platform plugin "wayland" in ""'
    # Qt's platform plugin folder as on a machine without qtwayland5.
    plugins=$(dpkg -L qtwayland5 | grep -m 1 '/platforms/libqwayland') ||
        fail "qtwayland5 lists no Wayland platform plugin"
    plugins=$(dirname "$plugins")
    shown=$artifacts/qt-platforms-without-wayland
    cp -a "$plugins" "$shown"
    dpkg -L qtwayland5 | grep "^$plugins/" | xargs -n 1 basename | (cd "$shown" && xargs rm -f)
fi

# Runs a command as on a machine without qtwayland5, in a mount namespace of its own (a user
# namespace too, when not root). The command replaces the shell, so call it in the background
# or in a subshell: its process is then the one that $! names and a kill ends.
without_qt_wayland() {
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(--user --map-root-user)
    exec unshare "${as_root[@]}" --mount --propagation private /bin/sh -c \
        'mount --bind "$1" "$2" && shift 2 && exec "$@"' without_qt_wayland "$shown" "$plugins" "$@"
}

# The nested compositor's view of the window titled $1, as its scene graph prints it: the line
# that names the view, then its position.
compositor_view() {
    weston-debug scene-graph 2>/dev/null | grep -F -A1 "top-level window '$1'"
}

compositor_windows_shown() {
    [ -n "$(compositor_view "Source image")" ] && [ -n "$(compositor_view "Source_seki image")" ]
}

# Finds both windows by their exact titles, as the route sees them: X11 windows on X11 and
# Xwayland, the compositor's views on both Wayland routes, and on native Wayland the tool's own.
find_windows() {
    local run
    # Seen once in many runs: weston never showed two windows that Xwayland had mapped with their
    # titles, which is between the two of them. A fault of the tool would show again in a second
    # run.
    for run in first second; do
        [ "$route" = wayland ] || wait_while_running preview_windows_shown ||
            fail "the two preview windows did not appear on $route"
        # Both open at (0,0): the integrated one moves below, so neither hides the other.
        [ "$route" != x11 ] || { xdotool windowmove "$seki_id" 0 600; return; }
        wait_while_running compositor_windows_shown && break
        [ $run = first ] && [ "$route" = xwayland ] || fail "the compositor does not show the two windows"
        weston-debug scene-graph >"$artifacts/scene-graph-first-run.txt" 2>&1
        echo "weston does not show the two windows that Xwayland mapped; running once more"
        end_tool
        start_tool "${wrap[@]}" "$camera"
    done
    [ "$route" = wayland ] || return 0
    for title in "Source image" "Source_seki image"; do
        compositor_view "$title" | grep -q "role xdg_toplevel, PID $pid," ||
            fail "'$title' is not a Wayland window of the tool: $(compositor_view "$title")"
    done
}

# Prints the standard deviation of the grey levels in the middle of the X window $1, where the
# camera's image is, and keeps its screenshot as $2.png.
centre_spread() {
    import -window "$1" "$artifacts/$2.png"
    convert "$artifacts/$2.png" -gravity center -crop 80x60+0+0 -colorspace gray \
        -format '%[fx:standard_deviation]' info:
}

# Presses the key named $2, whose code is $1, and checks that the run goes on: first the test
# camera must say which pass the key reached, then the report must go 10 lines past it.
key_is_ignored() {
    local pass
    press_in_window "${source_id:-}" "$2"
    wait_while_running grep -q "^key $1 in pass " "$errors" || fail "$2 did not reach the tool"
    pass=$(sed -n "s/^key $1 in pass //p" "$errors" | tail -n 1)
    wait_while_running report_has_lines "$report" $((pass + 10)) || fail "$2 ended or stalled the run"
}

start_tool "${wrap[@]}" "$camera"
find_windows
report_goes_on 30 || fail "the report stopped at line $(wc -l <"$report") while no key was pressed"
# Each frame brings fresh noise; the integrated image averages it over the frames, which leaves
# about 1/sqrt(3) (0.58) of its spread. Swapped windows would give 1.7. What the windows show
# is Qt's and the same on every desktop: it is looked at on X11.
[ "$route" != x11 ] ||
    awk -v frame="$(centre_spread "$source_id" source)" -v seki="$(centre_spread "$seki_id" seki)" \
        'BEGIN { print "spread ratio " seki / frame
                 exit !(seki / frame > 0.45 && seki / frame < 0.72) }' ||
    fail "the windows do not show the noisy frame and the smoothed integrated image"

# One key at a time: keys pressed together can reach the loop as one key, the last.
key_is_ignored 27 Escape
key_is_ignored 32 space
# On X11, q goes to the integrated image's window here and to the frame's in the demo below.
stop_with_q fail "${seki_id:-}"
lines=$(wc -l <"$report")
passes=$(sed -n 's/^passes shown: //p' "$errors")
[ "$lines" -gt 0 ] && [ "$lines" = "$passes" ] || fail "$lines report lines for $passes passes"
faults=$(report_faults)
[ -z "$faults" ] || fail "$faults"
# The tool's own lines begin with its name, and a normal run writes none.
own=$(grep '^frame-integrator' "$errors")
[ -z "$own" ] || fail "the tool wrote '$own' to standard error"
[ -z "$qt_note" ] || [ "$(grep -cxF "$qt_note" "$errors")" -eq 1 ] ||
    fail "standard error does not have Qt's line '$qt_note' once"
echo "q ended the run with status 0 after $passes passes, each reported once, in order"

# A Wayland session without Xwayland, or QT_QPA_PLATFORM=wayland, leaves Qt without qtwayland5
# no way to show a window: it aborts the process when the first window opens, after the first
# report line. The timeout bounds a run that would wrongly go on.
if [ "$route" = xwayland ]; then
    for way in "unset DISPLAY" "export QT_QPA_PLATFORM=wayland"; do
        # The braces keep bash's own "Aborted" off the test's output.
        { (eval "$way" && without_qt_wayland timeout 300 "$camera") >"$artifacts/abort_report.log" \
            2>"$artifacts/abort_stderr.log"; status=$?; } 2>/dev/null
        lines=$(wc -l <"$artifacts/abort_report.log")
        [ "$status" -eq 134 ] && [ "$lines" -eq 1 ] ||
            fail "with '$way': exit status $status after $lines report lines, expected 134 after 1"
        echo "with '$way', Qt aborted the run (134) after its first report line"
    done
fi
[ "$route" = x11 ] || exit 0

# Ctrl+C in a terminal: SIGINT, which a script's background job would otherwise ignore, ends
# the run with 130, its report whole.
start_tool env --default-signal=INT "$camera"
wait_while_running report_has_lines "$report" 3 || fail "no report before Ctrl+C"
kill -INT "$pid"
wait_for_exit
faults=$(report_faults)
[ "$status" -eq 130 ] && [ -z "$faults" ] || fail "exit status $status after Ctrl+C, expected 130${faults:+; $faults}"
# A reader that goes away, as head does: the next report line ends the run with 141, silently.
{ timeout 300 "$camera" 2>"$errors"; echo $? >"$artifacts/pipe_status"; } | head -n 3 >"$report"
status=$(cat "$artifacts/pipe_status")
[ "$status" -eq 141 ] && [ "$(wc -l <"$report")" -eq 3 ] && ! grep -q '^frame-integrator' "$errors" ||
    fail "with its reader gone after 3 lines: exit status $status, expected 141 and no line of its own"
echo "Ctrl+C ended the run with 130, a closed pipe with 141"
[ -n "$demo" ] || exit 0

# The demo with standard input and error closed: both go to /dev/null, so that no file the
# run opens later takes their descriptors, and the run goes on as usual.
report=$artifacts/demo_report.log
"$demo" <&- 2>&- >"$report" &
pid=$!
wait_while_running preview_windows_shown || fail "the demo's preview windows did not appear"
for descriptor in 0 2; do
    target=$(readlink "/proc/$pid/fd/$descriptor")
    [ "$target" = /dev/null ] || fail "the demo's descriptor $descriptor is on '$target', not /dev/null"
done
# Both windows in one picture, taken at one moment: the screenshot on the project's pages. By
# then the ball crosses the scene, leaving its trail in the integrated image.
xdotool windowmove "$seki_id" 0 600
report_goes_on 90 || fail "the demo's report stopped at line $(wc -l <"$report")"
import -window root "$artifacts/demo.png"
stop_with_q fail
# Its scene is a blue-grey under 30 % snow, fresh in every frame, a noise whose strength keeps
# the PSNR between 23 and 27 dB once the integrated image has settled from the first frames.
off=$(psnr_outside 23 27 6)
[ -z "$off" ] || fail "the demo's PSNR left its scene's 23 to 27 dB after pass 5: $off"
echo "the demo ran with descriptors 0 and 2 on /dev/null, every PSNR from pass 6 on within 23 to 27 dB"
