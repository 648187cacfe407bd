#!/bin/bash
# Checks the Debian package: its dependencies come from the libraries it links, it holds the
# binary in bin/, and the installed binary with no camera exits with 255 and prints nothing.
# In CI (CI=true, as root) it installs the package with apt and removes it afterwards;
# elsewhere it unpacks it into a temporary folder instead of touching the system.
set -euo pipefail
deb=$(realpath "$1")

fail() {
    echo "check-package: $*" >&2
    exit 1
}

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for library in libopencv-core libopencv-videoio libopencv-highgui libc6 libstdc++6; do
    grep -q "$library" <<<"$depends" || fail "no dependency on $library"
done
dpkg-deb --contents "$deb" | grep -q '\./usr/bin/frame-integrator$' || fail "no usr/bin/frame-integrator"

unpacked=$(mktemp -d)
installed=false
cleanup() {
    rm -rf "$unpacked"
    if $installed; then
        apt-get remove -y -qq frame-integrator >/dev/null
    fi
}
trap cleanup EXIT

if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
    installed=true
    binary=$(command -v frame-integrator) || fail "frame-integrator not on PATH after install"
else
    dpkg-deb --extract "$deb" "$unpacked"
    binary=$unpacked/usr/bin/frame-integrator
fi

if [ -e /dev/video0 ]; then
    echo "check-package: skipped the run, /dev/video0 exists"
    exit 0
fi
set +e
output=$(timeout 30 "$binary" 2>/dev/null)
status=$?
set -e
[ "$status" -eq 255 ] || fail "$binary exited with $status, expected 255"
[ -z "$output" ] || fail "$binary wrote to standard output: $output"
echo "check-package: $binary exits with 255 and prints nothing without a camera"
