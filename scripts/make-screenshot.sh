#!/bin/bash
# Remakes docs/screenshot.png: the demo's two windows side by side and its latest report
# line, taken under a virtual display.
# Usage: scripts/make-screenshot.sh DEMO_BINARY [OUTPUT_PNG]
set -euo pipefail
source "$(dirname "$0")/preview-windows.sh"
demo=$(realpath "$1")
output=$(realpath -m "${2:-docs/screenshot.png}")

if [ -z "${DISPLAY:-}" ]; then
    exec "$(dirname "$0")/with-virtual-display.sh" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$demo" >"$work/report.log" 2>"$work/stderr.log" &
pid=$!
if ! wait_for_preview_windows; then
    echo "make-screenshot: the demo's windows did not appear" >&2
    kill "$pid"
    exit 1
fi

separate_preview_windows
sleep 3  # a few seconds of integration, for a visible trail
import -window "$source_id" "$work/source.png"
import -window "$seki_id" "$work/seki.png"
press_in_preview_window q
wait "$pid"

# Keeps each window's image, which sits between a tool bar and a plain status bar whose
# heights vary with the Qt version: trimming the status bar off a crop below the tool bar
# finds the image's bottom edge, and the demo's 480 rows above it are the image.
demo_height=480
panel() {
    local bottom
    bottom=$(convert "$1" -crop +0+"$demo_height" +repage -fuzz 3% -format '%@' info: |
        awk -F'[x+]' -v top="$demo_height" '{ print top + $4 + $2 }')
    convert "$1" -crop x"$demo_height"+0+"$((bottom - demo_height))" +repage -fuzz 3% -trim +repage \
        \( -background white \
           -font DejaVu-Sans -pointsize 20 label:"$2" \) \
        +swap -gravity center -background white -append "$3"
}
panel "$work/source.png" "Source image" "$work/source_panel.png"
panel "$work/seki.png" "Source_seki image" "$work/seki_panel.png"
convert -font DejaVu-Sans-Mono -pointsize 18 -background white label:"$(tail -n 1 "$work/report.log")" \
    "$work/line.png"
convert \( "$work/source_panel.png" "$work/seki_panel.png" -bordercolor white -border 10 +append \) \
    "$work/line.png" -gravity center -background white -append -bordercolor white -border 10 +repage "$output"
echo "wrote $output"
