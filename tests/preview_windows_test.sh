#!/bin/bash
# The real preview windows of a live run: their titles, which picture each shows, a report
# that flows while no key is pressed, the keys; then the demo, started with standard input
# and error closed, showing its own noisy scene.
# Usage (under an X display): preview_windows_test.sh GUI_CAMERA DEMO FIND_IMAGE_AREA ARTIFACT_DIR
# No -e: a failed step is reported by fail, with the screenshots and logs kept.
set -uo pipefail
source "$(dirname "$0")/../scripts/preview-windows.sh"
camera=$1
demo=$2
find_image_area=$3
artifacts=$4

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

# The camera delivers 30 frames a second; a key wait that blocked would stop the report.
lines_before=$(wc -l <"$artifacts/report.log")
sleep 1
new_lines=$(($(wc -l <"$artifacts/report.log") - lines_before))
[ "$new_lines" -ge 10 ] || fail "$new_lines report lines in the second before any key was pressed"
echo "$new_lines report lines in the second before any key was pressed"

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

# The demo with standard input and error closed: both go to /dev/null, so that no file the
# run opens later takes their descriptors, and the run goes on as usual.
"$demo" <&- 2>&- >"$artifacts/demo_report.log" &
pid=$!
wait_for_preview_windows || fail "the demo's preview windows did not appear"
for descriptor in 0 2; do
    target=$(readlink "/proc/$pid/fd/$descriptor")
    [ "$target" = /dev/null ] || fail "the demo's descriptor $descriptor is on '$target', not /dev/null"
done
separate_preview_windows
sleep 1
import -window "$source_id" "$artifacts/demo_source_window.png"
press_in_preview_window q
wait "$pid"
status=$?
pid=""
[ "$status" -eq 0 ] || fail "the demo's exit status was $status after q, expected 0"
# Its scene is a blue-grey 0x305070 under 30 % snow: on average (72, 94, 117) in the middle,
# where the ball seldom is, and a noise whose strength keeps the PSNR between 23 and 27 dB
# once the integrated image has settled from the first frames.
colour=$(convert "$artifacts/demo_source_window.png" -gravity center -crop 200x200+0+0 +repage \
    -format '%[fx:round(255*mean.r)] %[fx:round(255*mean.g)] %[fx:round(255*mean.b)]' info:)
read -r red green blue <<<"$colour"
[ $(((red - 72) ** 2 + (green - 94) ** 2 + (blue - 117) ** 2)) -le 64 ] ||
    fail "the demo's frame window shows the colour ($colour), not its scene's (72 94 117)"
psnr_range=$(awk 'NR > 5 { psnr = $6 + 0; low = NR == 6 || psnr < low ? psnr : low
        high = NR == 6 || psnr > high ? psnr : high }
    END { printf "%.2f %.2f", low, high; exit !(NR > 5 && low >= 23 && high <= 27) }' \
    "$artifacts/demo_report.log") ||
    fail "from pass 6 on, the demo's PSNR spans $psnr_range dB, not its scene's 23 to 27 dB"
echo "the demo ran with descriptors 0 and 2 on /dev/null, showing its scene ($colour), PSNR $psnr_range dB"
