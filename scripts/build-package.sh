#!/bin/bash
# Builds the Debian source and binary packages of this working tree for Debian RELEASE on ARCH
# with dpkg-buildpackage, then checks them with lintian. For this machine's own release and
# architecture the build runs here; for any other, in a fresh root of RELEASE that mmdebstrap
# makes and throws away (a cross build for another architecture). Leaves the packages in
# build-package/RELEASE-ARCH/.
# Usage: build-package.sh RELEASE ARCH
set -euo pipefail
release=$1
arch=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$repo/build-package/$release-$arch
source "$repo/scripts/roots.sh"
set_archive_options "$release"

rm -rf "$out"
mkdir -p "$out/frame-integrator"
git -C "$repo" ls-files -z --cached --others --exclude-standard |
    tar -C "$repo" --null -T - -cf - | tar -C "$out/frame-integrator" -xf -
if [ "$release-$arch" = "$host_release-$host_arch" ]; then
    (cd "$out/frame-integrator" && bounded 1800 dpkg-buildpackage -us -uc)
else
    # For another architecture, a cross build whose tests run through qemu-user, as Debian's
    # builders run them where the emulator is registered (crossbuildcanrunhostbinaries).
    cross=() options=${DEB_BUILD_OPTIONS:-}
    if [ "$arch" != "$host_arch" ]; then
        cross=(--architectures="$host_arch,$arch" --include="crossbuild-essential-$arch")
        options+="${options:+ }crossbuildcanrunhostbinaries"
        register_qemu_user "$arch"
    fi
    profile=$([[ " $options " != *" nocheck "* ]] || echo -Pnocheck)
    # In the root: the build packages the copied tree's debian/control names, then the build.
    build="apt-get build-dep -y --host-architecture=$arch $profile ./"
    build+=" && DEB_BUILD_OPTIONS=\"$options\" dpkg-buildpackage -us -uc --host-arch=$arch $profile"
    bounded 2400 mmdebstrap --variant=buildd "${cross[@]}" "${archive_options[@]}" \
        --customize-hook='mkdir "$1/build"' --customize-hook="sync-in '$out' /build" \
        --customize-hook="chroot \"\$1\" sh -c 'cd /build/frame-integrator && $build'" \
        --customize-hook="sync-out /build '$out'" "$release" /dev/null
fi
bounded 900 lintian --fail-on error,warning "$out"/frame-integrator_*.changes
echo "built $(echo "$out"/frame-integrator_*_"$arch".deb)"
