#!/bin/bash
# Runs the package's autopkgtests (debian/tests) on the package that build-package.sh left for
# Debian RELEASE on ARCH, in a qemu machine of that release and architecture under software
# emulation. The machine's image is made once by mmdebstrap-autopkgtest-build-qemu, with what
# the tests and the package need already installed (dpkg is slow under emulation), and kept in
# CACHE_DIR (default /var/cache/frame-integrator-ci), named after everything that goes into it.
# With --image-only, only makes the image.
# Usage: test-cameras.sh RELEASE ARCH [--image-only]
set -euo pipefail
release=$1
arch=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
packages=$repo/build-package/$release-$arch
deb=$(echo "$packages"/frame-integrator_*_"$arch".deb)
cache=${CACHE_DIR:-/var/cache/frame-integrator-ci}

# The names in the tests' and the package's dependencies, without versions, and without "@" (the
# package itself).
needed=$( (sed -n 's/^Depends://p' "$repo/debian/tests/control" && dpkg-deb -f "$deb" Depends) |
    tr ',' '\n' | sed 's/([^)]*)//; s/ //g' | grep -vx -e '@' -e '' | sort -u | paste -sd,)
builder_options=(--boot=efi --arch="$arch")
# The image leaves out documentation: less for dpkg to write under emulation.
mmdebstrap_options=(--include="$needed" --dpkgopt='path-exclude=/usr/share/doc/*'
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*')
key=$(echo "$release ${builder_options[*]} ${mmdebstrap_options[*]}" | sha256sum | cut -c1-12)
image=$cache/$release-$arch-$key.img
if [ ! -s "$image" ]; then
    mkdir -p "$cache"
    rm -f "$cache/$release-$arch-"*.img
    # Through bash: Debian 12's dash lacks the pipefail that the backported script sets.
    bash "$(command -v mmdebstrap-autopkgtest-build-qemu)" "${builder_options[@]}" "$release" \
        "$image.partial" -- "${mmdebstrap_options[@]}"
    mv "$image.partial" "$image"
fi
[ "${3:-}" != --image-only ] || exit 0

# Without KVM the machine boots in about two minutes, far beyond autopkgtest's default wait.
qemu=(--boot=efi --ram-size=4096 --cpus=2 --timeout-reboot=900)
case $arch in
    amd64) qemu+=("--qemu-options=-cpu max") ;;
    arm64) qemu+=(--qemu-architecture=aarch64 --dpkg-architecture=arm64) ;;
    *) echo "test-cameras: amd64 or arm64 only" >&2 && exit 2 ;;
esac
# autopkgtest gives its setup steps fixed waits of a few seconds, which a busy machine can miss:
# a testbed that failed to start (status 16) gets one more try, a failed test none.
for attempt in first second; do
    status=0
    autopkgtest --output-dir="$packages/autopkgtest-$attempt" --timeout-test=3600 \
        "$deb" "$packages"/frame-integrator_*.dsc -- qemu "${qemu[@]}" "$image" || status=$?
    [ "$status" -eq 16 ] && [ "$attempt" = first ] || break
    echo "test-cameras: the $release $arch testbed failed to start; trying once more"
done
exit "$status"
