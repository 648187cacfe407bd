#!/bin/bash
# Runs make test and make lint as a new user would: on a clean clone of this repository's HEAD
# (commit first), in a fresh minimal root of Debian RELEASE that mmdebstrap makes with nothing
# but make in it, and throws away afterwards. Needs root.
# Usage: test-in-fresh-debian.sh RELEASE [COMMAND...]   (RELEASE: trixie, bookworm, ...)
# Each COMMAND runs in the clone instead of make test and make lint.
set -euo pipefail

# Called by mmdebstrap: runs COMMAND in the clone in the root ROOT, in a clean environment as
# in a new login. The root is first made a mount point, as on a booted system, so that the
# tests' own unshare --mount works there; the mount lives and ends with a namespace of its own.
if [ "$1" = --run-in ]; then
    exec unshare --mount --propagation private /bin/sh -c 'mount --rbind "$1" "$1" &&
        exec chroot "$1" env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        sh -c "cd /root/frame-integrator && $2"' run-in "$2" "$3"
fi

release=$1
shift
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=("make test" "make lint")
clone=$(mktemp -d)
trap 'rm -rf "$clone"' EXIT
git clone --quiet "$(dirname "$0")/.." "$clone/frame-integrator"

hooks=(--customize-hook='mkdir "$1/root/frame-integrator"'
    --customize-hook="sync-in '$clone/frame-integrator' /root/frame-integrator")
for command in "${commands[@]}"; do
    hooks+=(--customize-hook="'$(realpath "$0")' --run-in \"\$1\" '$command'")
done
mmdebstrap --variant=minbase --include=make "${hooks[@]}" "$release" /dev/null
echo "== $release: passed on a clean clone in a fresh root: ${commands[*]}"
