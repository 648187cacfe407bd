#!/bin/bash
# Installs the named Debian packages that are missing, without recommended packages (none of
# ours needs them), with sudo when not root. Waits up to ten minutes for a dpkg lock that
# another program holds, as PackageKit or unattended-upgrades do on a desktop. A package named
# NAME:ARCH first makes dpkg take packages of ARCH. With --backports first, installs the named
# packages from this release's backports, adding them to apt's sources. With --build-deps,
# installs the package's build dependencies that debian/control names, its tests' among them,
# and names the packages it installed. apt's own lines show how far an install has got.
# Usage: install-deps.sh [--backports] PACKAGE...  |  install-deps.sh --build-deps
set -euo pipefail
source "$(dirname "$0")/roots.sh"
apt_get=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
release=""
if [ "$1" = --build-deps ]; then
    ! dpkg-checkbuilddeps 2>/dev/null || exit 0
    echo "Installing the build dependencies in debian/control"
    before=$(apt-mark showmanual)
    "${apt_get[@]}" -qq update
    "${apt_get[@]}" build-dep -y --no-install-recommends ./
    echo "Installed: $(apt-mark showmanual | grep -vxF -e "$before" | xargs)"
    exit 0
fi
if [ "$1" = --backports ]; then
    shift
    release=$host_release-backports
    echo "deb http://deb.debian.org/debian $release main" |
        $sudo tee "/etc/apt/sources.list.d/$release.list" >/dev/null
fi

missing=()
for package in "$@"; do
    [ -z "$release" ] && dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
        grep -q "install ok installed" || missing+=("$package")
    arch=${package#*:}
    [ "$arch" = "$package" ] || (dpkg --print-architecture && dpkg --print-foreign-architectures) |
        grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
done
[ ${#missing[@]} -gt 0 ] || exit 0

echo "Installing: ${missing[*]}${release:+ from $release}"
"${apt_get[@]}" -qq update
"${apt_get[@]}" install -y --no-install-recommends ${release:+-t "$release"} "${missing[@]}"
