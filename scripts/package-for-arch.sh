#!/bin/bash
# Builds the Debian package for another architecture, as a board of it would: make package,
# run under qemu-user in the root of that architecture's camera guest of Debian RELEASE
# (make-camera-guest.sh), which holds what the tool builds with. The package's dependencies
# are thus read off that architecture's own libraries. Then check-package.sh checks it.
# Leaves build-package-ARCH/frame-integrator_VERSION_ARCH.deb.
# Usage: package-for-arch.sh RELEASE ARCH PACKAGE...   (the packages the guest holds)
# Needs root (debootstrap, chroot).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/debian-root.sh"
arch=$2

if [ "$(id -u)" -ne 0 ]; then
    echo "package-for-arch: needs root (debootstrap and chroot)" >&2
    exit 1
fi
can_run_architecture "$arch"

guest=$("$repo/scripts/make-camera-guest.sh" "$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
in_root_on_working_tree "$guest/root" "$work/src" "make package"

out=$repo/build-package-$arch
mkdir -p "$out"
rm -f "$out"/frame-integrator_*.deb
cp "$work/src/build-package/frame-integrator_"*"_$arch.deb" "$out/"
"$repo/scripts/install-deps.sh" lintian
"$repo/scripts/check-package.sh" "$out"/frame-integrator_*.deb
