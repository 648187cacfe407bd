# Shell functions for watching a run of the tool and driving its two preview windows, on an X
# display or through a nested Wayland compositor (with-nested-weston.sh); source this file.
# Every wait below is a bound for a hang, not a measure of speed: a slow machine gets there
# later, a stalled loop never.

# Waits for both windows to show on the X display (an X server, or Xwayland); sets source_id
# and seki_id.
wait_for_preview_windows() {
    local deadline=$((SECONDS + 120))
    while [ $SECONDS -lt $deadline ]; do
        source_id=$(xdotool search --onlyvisible --name '^Source image$' 2>/dev/null | head -n 1 || true)
        seki_id=$(xdotool search --onlyvisible --name '^Source_seki image$' 2>/dev/null | head -n 1 || true)
        [ -n "$source_id" ] && [ -n "$seki_id" ] && return 0
        sleep 0.1
    done
    return 1
}

# Both windows open at (0,0): moves the integrated one below so neither hides the other.
separate_preview_windows() {
    xdotool windowmove "$seki_id" 0 600
}

# Presses keys as a person would. With no window manager, keys go where the pointer is,
# and only XTEST events reach the windows. Through a nested compositor the pointer already
# rests in the compositor's own window, and the compositor hands the keys to the window it
# focused.
press_in_preview_window() {
    if [ -n "${COMPOSITOR_WINDOW:-}" ]; then
        DISPLAY=$COMPOSITOR_DISPLAY xdotool key "$@"
    else
        xdotool mousemove --window "$source_id" 50 50 key "$@"
    fi
}

# The nested compositor's view of the window titled $1, as its scene graph prints it: the
# line that names the view, then its position.
compositor_view() {
    weston-debug scene-graph 2>/dev/null | grep -F -A1 "top-level window '$1'"
}

# Waits for both windows to show in the nested compositor.
wait_for_compositor_windows() {
    local deadline=$((SECONDS + 120))
    while [ $SECONDS -lt $deadline ]; do
        [ -n "$(compositor_view "Source image")" ] && [ -n "$(compositor_view "Source_seki image")" ] &&
            return 0
        sleep 0.25
    done
    return 1
}

# Whether the window titled $1 is the top one in the nested compositor.
compositor_window_on_top() {
    weston-debug scene-graph 2>/dev/null | grep -m 1 "top-level window '" | grep -qF "'$1'"
}

# Saves to $2 what the nested compositor shows of the window titled $1, raised first with the
# compositor's window switcher (Super+Tab), since the compositor may place the other one over
# it.
screenshot_compositor_window() {
    local x1 y1 x2 y2 deadline=$((SECONDS + 120))
    compositor_window_on_top "$1" || DISPLAY=$COMPOSITOR_DISPLAY xdotool key super+Tab
    until compositor_window_on_top "$1"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.25
    done
    read -r x1 y1 x2 y2 < <(compositor_view "$1" |
        sed -n 's/.*position: (\(-*[0-9]*\), \(-*[0-9]*\)) -> (\(-*[0-9]*\), \(-*[0-9]*\)).*/\1 \2 \3 \4/p')
    DISPLAY=$COMPOSITOR_DISPLAY import -window "$COMPOSITOR_WINDOW" \
        -crop "$((x2 - x1))x$((y2 - y1))+$x1+$y1" +repage "$2"
}

# Standard input with the library's notes ("[ WARN:0@0.077] global cap_gstreamer.cpp:1405 open
# ...", or "... ./modules/videoio/src/cap_gstreamer.cpp (1405) open ..." on OpenCV 4.6) cut
# down to their level and message, which stay the same from run to run and release to release.
without_library_stamps() {
    sed -E 's/^\[ ?([A-Z]+):[^]]*\] global ([^ ]+ \([0-9]+\)|[^ ]+:[0-9]+) [^ ]+ /\1 /'
}

# Waits until the report file $1 has at least $2 lines while the tool ($pid) runs.
wait_for_report_lines() {
    local deadline=$((SECONDS + 300))
    while [ "$(wc -l <"$1")" -lt "$2" ]; do
        kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ] || return 1
        sleep 0.25
    done
}

# Waits for the tool ($pid) to end; sets status, 124 if it had to be killed.
wait_for_exit() {
    local deadline=$((SECONDS + 120))
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.25
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        wait "$pid" 2>/dev/null
        status=124
    else
        wait "$pid"
        status=$?
    fi
}

# What is wrong with the report in file $1, if anything: a last line without its newline, the
# first malformed line, the first line out of the order 1, 2, 3, ...
report_faults() {
    [ ! -s "$1" ] || [ -z "$(tail -c 1 "$1")" ] || echo "the report ends inside a line"
    grep -Evn -m 1 '^frame_number = +[0-9]+  PSNR = [0-9]+\.[0-9]{15}\[dB\]$' "$1" |
        sed 's/^/a malformed report line: /'
    awk '$3 != NR { print "report line " NR " is numbered " $3; exit }' "$1"
}
