# Shell functions for the tests that run the tool: starting it, watching its report, driving its
# two preview windows on an X display, stopping it, and reporting test cases; source this file.
# Every wait below is a bound for a hang, not a measure of speed: a slow machine gets there
# later, a stalled loop never, and a wait that ends without what it waited for fails.

# Notes a problem of the case being run; an empty one is none.
problems=()
failures=0
problem() {
    [ -z "$*" ] || problems+=("$*")
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

tool_running() {
    [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null
}

done_or_tool_ended() {
    "$@" || ! tool_running
}

# Waits until the command given succeeds; fails once the tool ($pid) has ended without it.
wait_while_running() {
    wait_until 300 done_or_tool_ended "$@" && "$@"
}

# Starts the command given in the background with its report on $report and its standard
# error on $errors; sets pid.
start_tool() {
    rm -f "$report" "$errors"
    "$@" >"$report" 2>"$errors" &
    pid=$!
}

# Whether the report file $1 has at least $2 lines; a file not made yet has none.
report_has_lines() {
    [ "$( (wc -l <"$1") 2>/dev/null || echo 0)" -ge "$2" ]
}

# Waits until the report has $1 lines more than now: a key wait that blocked would hold the
# report where it is however long one waited.
report_goes_on() {
    wait_while_running report_has_lines "$report" $(($(wc -l <"$report") + $1))
}

# Whether both windows of the tool ($pid) show on the X display, found by title and process, so
# that a window left by another run can't stand in; sets source_id and seki_id.
preview_windows_shown() {
    local search=(xdotool search --all --onlyvisible --pid "$pid" --name)
    source_id=$("${search[@]}" '^Source image$' 2>/dev/null | head -n 1)
    seki_id=$("${search[@]}" '^Source_seki image$' 2>/dev/null | head -n 1)
    [ -n "$source_id" ] && [ -n "$seki_id" ]
}

# Presses keys in the X window $1 as a person would. With no window manager, keys go where the
# pointer is, and only XTEST events reach the windows. In a nested compositor
# (COMPOSITOR_WINDOW) the pointer rests in the compositor's own window, which hands the keys to
# the window it focused.
press_in_window() {
    local window=$1
    shift
    if [ -n "${COMPOSITOR_WINDOW:-}" ]; then
        DISPLAY=$COMPOSITOR_DISPLAY xdotool key "$@"
    else
        xdotool mousemove --window "$window" 50 50 key "$@"
    fi
}

# Ends the tool ($pid) if it still runs, and waits for it; sets status.
end_tool() {
    [ -n "${pid:-}" ] || return 0
    ! tool_running || kill -9 "$pid"
    wait "$pid" 2>/dev/null
    status=$?
    pid=""
}

# Waits for the tool to end; sets status, 124 if it had to be ended.
wait_for_exit() {
    timeout 120 tail --pid="$pid" -f /dev/null
    local ended=$?
    end_tool
    [ "$ended" -eq 0 ] || status=124
}

# Presses q in the X window $2 (default: the source window) and waits for the tool to end;
# unless it ended with 0, tells $1 (problem or fail).
stop_with_q() {
    press_in_window "${2:-${source_id:-}}" q
    wait_for_exit
    [ "$status" -eq 0 ] || "$1" "exit status $status after q, expected 0"
}

# The first report line from line $3 on (default 1) whose PSNR lies outside $1 to $2 dB.
psnr_outside() {
    awk -v low="$1" -v high="$2" -v from="${3:-1}" \
        'NR >= from && ($6 + 0 < low || $6 + 0 > high) { print; exit }' "$report"
}

# What is wrong with the report, if anything: no report at all, a last line without its
# newline, the first malformed line, the first line out of the order 1, 2, 3, ...
report_faults() {
    [ -e "$report" ] || { echo "there is no report file $report"; return; }
    [ ! -s "$report" ] || [ -z "$(tail -c 1 "$report")" ] || echo "the report ends inside a line"
    grep -Evn -m 1 '^frame_number = +[0-9]+  PSNR = [0-9]+\.[0-9]{15}\[dB\]$' "$report" |
        sed 's/^/a malformed report line: /'
    awk '$3 != NR { print "report line " NR " is numbered " $3; exit }' "$report"
}
