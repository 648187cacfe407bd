#!/bin/bash
# Installs the named Debian packages that are missing, without recommended packages (none of
# ours needs them), with sudo when not root. Prints the download size.
set -euo pipefail

missing=()
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
$sudo apt-get update -qq
if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
    "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
grep -E 'newly installed|^Need to get|^After this operation' "$log" || true
