#!/bin/bash
# Runs make test and make lint as a new user would: in a fresh minimal Debian root of the
# given release, on a clean clone of this repository's HEAD (commit first), with nothing
# installed but make. Needs root for debootstrap and chroot.
# Usage: test-in-fresh-debian.sh RELEASE [COMMAND...]   (RELEASE: trixie, bookworm, ...)
# Each COMMAND runs in the clone as one timed stage, instead of make test and make lint.
# CACHE_DIR (default /var/cache/frame-integrator-ci) keeps the pristine root and the
# downloaded packages between runs; every run unpacks a new root and clones anew.
set -euo pipefail
release=$1
shift
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=("make test" "make lint")
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/debian-root.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "test-in-fresh-debian: needs root (debootstrap and chroot)" >&2
    exit 1
fi
command -v git >/dev/null || "$repo/scripts/install-deps.sh" git

stage_label="$release: "

pristine_root_tar "$release" >/dev/null
end_stage "making the minimal root"

root=$(mktemp -d "$debian_root_cache/$release-root.XXXXXX")
trap 'rm -rf "$root"' EXIT
unpack_root "$release" "$root"
git clone --quiet "$repo" "$root/root/frame-integrator"
end_stage "unpacking the root and cloning $(git -C "$repo" rev-parse --short HEAD)"

install_in_root "$root" make
end_stage "installing make"
for command in "${commands[@]}"; do
    in_root "$root" "cd /root/frame-integrator && $command"
    end_stage "$command"
done
echo "== $release: passed on a clean clone in a fresh root: ${commands[*]}"
