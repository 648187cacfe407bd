# Shell functions for watching a run of the tool ($pid), driving its two preview windows on an
# X display and reporting test cases; source this file. Every wait below is a bound for a hang,
# not a measure of speed: a slow machine gets there later, a stalled loop never.

# Notes a problem of the case being run.
problems=()
failures=0
problem() {
    problems+=("$*")
}

# Prints the line of the case titled $1, ok or FAIL with its problems, and forgets them.
end_case() {
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1"
        printf '%s\n' "${problems[@]}" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
    problems=()
}

# Runs the command given until it succeeds, for at most $1 seconds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.25
    done
}

# Whether both windows show on the X display; sets source_id and seki_id.
preview_windows_shown() {
    source_id=$(xdotool search --onlyvisible --name '^Source image$' 2>/dev/null | head -n 1)
    seki_id=$(xdotool search --onlyvisible --name '^Source_seki image$' 2>/dev/null | head -n 1)
    [ -n "$source_id" ] && [ -n "$seki_id" ]
}

# Presses keys as a person would. With no window manager, keys go where the pointer is, and
# only XTEST events reach the windows. In a nested compositor (COMPOSITOR_WINDOW) the pointer
# rests in the compositor's own window, which hands the keys to the window it focused.
press_in_preview_window() {
    if [ -n "${COMPOSITOR_WINDOW:-}" ]; then
        DISPLAY=$COMPOSITOR_DISPLAY xdotool key "$@"
    else
        xdotool mousemove --window "$source_id" 50 50 key "$@"
    fi
}

# Whether the report file $1 has at least $2 lines; a file not made yet has none.
report_has_lines() {
    [ "$( (wc -l <"$1") 2>/dev/null || echo 0)" -ge "$2" ]
}

report_has_lines_or_tool_ended() {
    report_has_lines "$1" "$2" || ! kill -0 "$pid" 2>/dev/null
}

# Waits until the report file $1 has at least $2 lines; fails once the tool has ended without.
wait_for_report_lines() {
    wait_until 300 report_has_lines_or_tool_ended "$1" "$2" && report_has_lines "$1" "$2"
}

# Waits for the tool to end; sets status, 124 if it had to be killed.
wait_for_exit() {
    if timeout 120 tail --pid="$pid" -f /dev/null; then
        wait "$pid"
        status=$?
    else
        kill -9 "$pid"
        wait "$pid" 2>/dev/null
        status=124
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
