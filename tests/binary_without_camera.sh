#!/bin/bash
# The built binary on a machine with no camera, with its standard descriptors open or closed,
# and the demo with a standard output that takes nothing. Needs no display.
# Usage: binary_without_camera.sh BINARY [DEMO_BINARY]
# No -e: every case runs, and the statuses are what is checked.
set -uo pipefail
binary=$1
demo=${2:-}
if [ -e /dev/video0 ]; then
    echo "skipped: /dev/video0 exists, so this machine has a camera"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME STATUS EXPECTED_STATUS EXPECTED_STDERR: compares the run just made, whose standard
# output (if open) went to $work/out and standard error (if open) to $work/err.
check() {
    local problems=()
    [ "$2" -eq "$3" ] || problems+=("exit status $2, expected $3")
    [ ! -s "$work/out" ] || problems+=("wrote to standard output: $(head -c 200 "$work/out")")
    if [ -n "$4" ] && [ "$(cat "$work/err")" != "$4" ]; then
        problems+=("standard error was: $(cat "$work/err")")
    fi
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok: $1: exit status $2"
    else
        printf 'FAIL: %s: %s\n' "$1" "${problems[@]}"
        failures=$((failures + 1))
    fi
    rm -f "$work/out" "$work/err"
}

timeout 30 "$binary" >"$work/out" 2>"$work/err"
check "no camera" $? 255 ""

# The report would land in the next file opened (a camera's descriptor), so nothing is opened.
timeout 30 "$binary" >&- 2>"$work/err"
check "standard output closed" $? 1 \
    "frame-integrator: standard output is closed, so the report has nowhere to go"

# A report that can't be written ends the run at the first pass, before any window opens.
if [ -n "$demo" ]; then
    timeout 30 "$demo" >/dev/full 2>"$work/log"
    status=$?
    grep -v '^\[' "$work/log" >"$work/err"  # lines in brackets are the library's own log
    check "demo with standard output on /dev/full" $status 1 \
        "frame-integrator: the report could not be written: No space left on device"
fi

exit $((failures > 0))
