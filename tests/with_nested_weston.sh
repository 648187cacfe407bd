#!/bin/bash
# Runs a command in a Wayland session like the one GNOME gives on Debian 12 and 13: a weston
# compositor nested in the current X display (its X11 backend has a keyboard, which headless
# weston lacks), with Xwayland for X11 programs and the variables a GNOME session sets. Exports
# COMPOSITOR_DISPLAY and COMPOSITOR_WINDOW too: the X display and window that show the
# compositor's output and take its keyboard. Stops the compositor afterwards.
# Usage (under an X display): with_nested_weston.sh COMMAND...
# No -e: the command's own status is this script's, whatever it is.
set -uo pipefail

source "$(dirname "$0")/helpers.sh"
# The compositor's socket and log, and Qt's runtime files, go to a folder of this session's own.
XDG_RUNTIME_DIR=$(mktemp -d) || exit 1
export XDG_RUNTIME_DIR
log=$XDG_RUNTIME_DIR/weston.log
socket=frame-integrator-$$
# pixman: no GPU here. --debug lets weston-debug print the scene graph (each window's title and
# place), --no-config keeps a user's weston.ini out.
weston --backend=x11-backend.so --use-pixman --width=1600 --height=1200 --xwayland --debug \
    --no-config --socket="$socket" --log="$log" 2>/dev/null &
weston_pid=$!
trap 'kill $weston_pid 2>/dev/null; wait $weston_pid 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT

# Whether weston shows its window on the X display and Xwayland listens; sets both.
weston_started() {
    compositor_window=$(xdotool search --class '^Weston Compositor$' 2>/dev/null | head -n 1)
    xwayland_display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$log" | head -n 1)
    [ -n "$compositor_window" ] && [ -n "$xwayland_display" ]
}
wait_until 120 weston_started || { echo "with_nested_weston: weston did not start; its log:" >&2
    cat "$log" >&2; exit 1; }

# The pointer rests on the compositor's panel along the top, which stays above every window, so
# that it neither hides nor hovers over any part of one.
xdotool mousemove --window "$compositor_window" 800 10
export COMPOSITOR_DISPLAY=$DISPLAY COMPOSITOR_WINDOW=$compositor_window
export WAYLAND_DISPLAY=$socket DISPLAY=$xwayland_display
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
"$@"
