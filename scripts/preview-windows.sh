# Shell functions for driving the two preview windows under X; source this file.

# Waits up to 20 s for both windows to show; sets source_id and seki_id.
wait_for_preview_windows() {
    for _ in $(seq 200); do
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
# and only XTEST events reach the windows.
press_in_preview_window() {
    xdotool mousemove --window "$source_id" 50 50 key "$@"
}
