#!/bin/bash
# The built binary on a machine with no camera: exit status 255 and nothing on standard output.
set -uo pipefail
binary=$1
if [ -e /dev/video0 ]; then
    echo "skipped: /dev/video0 exists, so this machine has a camera"
    exit 77
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timeout 30 "$binary" >"$out" 2>/dev/null
status=$?
if [ "$status" -ne 255 ]; then
    echo "expected exit status 255, got $status"
    exit 1
fi
if [ -s "$out" ]; then
    echo "expected no standard output, got:"
    cat "$out"
    exit 1
fi
echo "exit status 255, no output"
