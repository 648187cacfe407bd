#!/bin/bash
# Checks the Debian package: lintian finds no error or warning, its dependencies come from the
# libraries it links, it holds the binary, the manual page and the copyright file, and the
# installed binary passes the same no-camera test as the built one. A package for another
# architecture gets every check but the run; the camera cases run it in its own guest.
# In CI (CI=true, as root) it installs the package with apt and removes it afterwards;
# elsewhere it unpacks it into a temporary folder instead of touching the system.
set -euo pipefail
deb=$(realpath "$1")
no_camera_test=$(dirname "$0")/../tests/binary_without_camera.sh

fail() {
    echo "check-package: $*" >&2
    exit 1
}

lintian_status=0
findings=$(lintian --fail-on error,warning "$deb" 2>&1) || lintian_status=$?
grep -v 'running with root privileges' <<<"$findings" || true
[ "$lintian_status" -eq 0 ] || fail "lintian found errors or warnings"

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for library in libopencv-core libopencv-videoio libopencv-highgui libc6 libstdc++6; do
    grep -q "$library" <<<"$depends" || fail "no dependency on $library"
done
contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/frame-integrator usr/share/man/man1/frame-integrator.1.gz \
    usr/share/doc/frame-integrator/copyright; do
    grep -q "\./$file\$" <<<"$contents" || fail "no $file in the package"
done

arch=$(dpkg-deb --field "$deb" Architecture)
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    echo "check-package: lintian is clean and the $arch package holds what it should"
    exit 0
fi

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
"$no_camera_test" "$binary" || [ $? -eq 77 ] || fail "$binary failed the no-camera test"
echo "check-package: lintian is clean and $binary passes the no-camera test"
