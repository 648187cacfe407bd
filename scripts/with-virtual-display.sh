#!/bin/bash
# Runs a command under a fresh virtual X display, then stops the display.
# SCREEN_SIZE sets the screen (default 1600x1200x24).
# No -e: the command's own status is this script's, whatever it is.
set -uo pipefail

display_file=$(mktemp) || exit 1
trap 'rm -f "$display_file"' EXIT
runtime_dir=$(mktemp -d) || exit 1
# -noreset: without it the server resets when its last client leaves, and the
# next window can fail to connect.
Xvfb -displayfd 3 -screen 0 "${SCREEN_SIZE:-1600x1200x24}" -noreset -nolisten tcp \
    3>"$display_file" 2>/dev/null &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null; rm -rf "$display_file" "$runtime_dir"' EXIT

deadline=$((SECONDS + 120))  # a bound for a hang: a busy machine only starts Xvfb later
until [ -s "$display_file" ] || [ $SECONDS -ge $deadline ]; do
    sleep 0.1
done
if [ ! -s "$display_file" ]; then
    echo "with-virtual-display: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(cat "$display_file")"
export XDG_RUNTIME_DIR="$runtime_dir"
"$@"
