#!/bin/bash
# The real preview windows of a live run: their titles, which picture each shows, the keys,
# the report, and a report that can't be written.
# Usage (under an X display): preview_windows_test.sh GUI_CAMERA FIND_IMAGE_AREA ARTIFACT_DIR
set -uo pipefail
source "$(dirname "$0")/../scripts/preview-windows.sh"
camera=$1
find_image_area=$2
artifacts=$3

# The test camera's border colour (B G R) and image size.
colour=(40 160 220)
image_size=(320 240)

rm -rf "$artifacts"
mkdir -p "$artifacts"
pid=""
fail() {
    echo "FAIL: $*"
    echo "screenshots and logs kept in $artifacts; the tool's standard error ends:"
    tail -n 40 "$artifacts/stderr.log"
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    exit 1
}
# Prints where a window's screenshot shows the camera's image, and sets spread to the noise
# in its centre; fails unless the image is shown whole at 1:1.
check_image_area() {
    local found status
    found=$("$find_image_area" "$2" "${colour[@]}" "${image_size[@]}")
    status=$?
    echo "$1: $found"
    spread=$(sed -n 's/.*centre spread //p' <<<"$found")
    return $status
}

"$camera" >"$artifacts/report.log" 2>"$artifacts/stderr.log" &
pid=$!

wait_for_preview_windows || fail "the two preview windows did not appear"
[ "$(xdotool getwindowname "$source_id")" = "Source image" ] || fail "wrong title on the frame window"
[ "$(xdotool getwindowname "$seki_id")" = "Source_seki image" ] || fail "wrong title on the integrated window"

separate_preview_windows
sleep 1
import -window "$source_id" "$artifacts/source_window.png"
import -window "$seki_id" "$artifacts/source_seki_window.png"
check_image_area "Source image" "$artifacts/source_window.png" ||
    fail "the frame window does not show the camera's image at 1:1"
source_spread=$spread
check_image_area "Source_seki image" "$artifacts/source_seki_window.png" ||
    fail "the integrated window does not show the integrated image at 1:1"
seki_spread=$spread
# Each frame brings fresh noise; the integrated image averages it over the frames, which
# leaves about 1/sqrt(3) (0.58) of its spread. Swapped windows would give 1.7.
awk -v frame="$source_spread" -v integrated="$seki_spread" \
    'BEGIN { ratio = integrated / frame; print "spread ratio " ratio; exit !(ratio > 0.45 && ratio < 0.72) }' ||
    fail "the windows do not show the noisy frame and the smoothed integrated image"

press_in_preview_window Escape
sleep 0.5
press_in_preview_window space
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "Esc or space ended the run"

press_in_preview_window q
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "q did not end the run"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status after q, expected 0"

lines=$(wc -l <"$artifacts/report.log")
passes=$(sed -n 's/^passes shown: //p' "$artifacts/stderr.log")
[ "$lines" -gt 0 ] || fail "no report lines"
[ "$lines" = "$passes" ] || fail "$lines report lines for $passes passes"
grep -Evq '^frame_number = +[0-9]+  PSNR = [0-9]+\.[0-9]{15}\[dB\]$' "$artifacts/report.log" &&
    fail "a malformed report line"
awk '$3 != NR { exit 1 }' "$artifacts/report.log" || fail "report lines not numbered 1, 2, 3, ..."
echo "q ended the run with status 0 after $passes passes, each reported once, in order"

# A report that can't be written ends the run at the first pass, before any window shows.
timeout 30 "$camera" >/dev/full 2>"$artifacts/full_stderr.log"
status=$?
[ "$status" -eq 1 ] || fail "with standard output on /dev/full: exit status $status, expected 1"
# Lines in brackets are the library's own log.
grep -v '^\[' "$artifacts/full_stderr.log" | diff - <(printf '%s\n' \
    "frame-integrator: the report could not be written: No space left on device" \
    "passes shown: 0") ||
    fail "wrong messages with standard output on /dev/full"
echo "with standard output on /dev/full: exit status 1 at the first pass, with the reason"
