#!/bin/bash
# Installs the named Debian packages that are missing, without recommended packages (none of
# ours needs them), with sudo when not root. Waits up to ten minutes for a dpkg lock that
# another program holds, as PackageKit or unattended-upgrades do on a desktop. A package named
# NAME:ARCH first makes dpkg take packages of ARCH. With --backports first, installs the named
# packages from this release's backports, adding them to apt's sources.
# Usage: install-deps.sh [--backports] PACKAGE...
set -euo pipefail
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
apt_get=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
release=""
if [ "$1" = --backports ]; then
    shift
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")-backports
    printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: $release" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        $sudo tee "/etc/apt/sources.list.d/$release.sources" >/dev/null
fi

missing=()
for package in "$@"; do
    if [ -n "$release" ] ||
        ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -gt 0 ] || exit 0

for package in "${missing[@]}"; do
    arch=${package#*:}
    if [ "$arch" != "$package" ] &&
        ! (dpkg --print-architecture && dpkg --print-foreign-architectures) | grep -qx "$arch"; then
        $sudo dpkg --add-architecture "$arch"
    fi
done
echo "Installing: ${missing[*]}${release:+ from $release}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"${apt_get[@]}" update -qq
if ! "${apt_get[@]}" install -y --no-install-recommends ${release:+-t "$release"} "${missing[@]}" \
    >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
grep -E 'newly installed|^Need to get|^After this operation' "$log" || true
