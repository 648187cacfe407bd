#!/bin/bash
# Runs the targets a new user or contributor starts with, as they would: on a clean clone of
# this repository's HEAD (commit first), as a user who has sudo, in a fresh minimal root of
# Debian RELEASE that mmdebstrap makes with nothing but make and sudo in it, and throws away
# afterwards: make run, make test, make lint, make package for arm64 (its tests under
# qemu-user), and the host packages of the camera machines, each checked by autopkgtest's qemu
# runner. Needs root.
# Usage: test-in-fresh-debian.sh RELEASE [COMMAND...]   (RELEASE: trixie, forky, ...)
# Each COMMAND runs in the clone instead.
set -euo pipefail
user=tester

# Called by mmdebstrap: runs COMMAND in the clone in the root ROOT, as the user, in a clean
# environment as in a new login. The root becomes the root of a mount namespace of its own, as
# a container's is: a chroot would forbid the user namespaces that the tests and mmdebstrap
# make for a user, and so would mmdebstrap's read-only /proc.
if [ "$1" = --run-in ]; then
    # A hook inherits mmdebstrap's own descriptors, the more the deeper roots nest; a command's
    # apt then hands its scripts descriptors past 9, which dash cannot name ("Bad fd number").
    # (255 is bash's own, closed on exec.)
    for fd in $(ls /proc/$$/fd); do
        [ "$fd" -le 2 ] || [ "$fd" -eq 255 ] || eval "exec $fd>&-"
    done
    exec unshare --mount --propagation private /bin/sh -c 'mount --rbind "$1" "$1" && cd "$1" &&
        mkdir -p .host && pivot_root . .host && umount -l /.host && rmdir /.host &&
        mount -t proc proc /proc &&
        exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin runuser -l "$2" -c "cd frame-integrator && $3"' \
        run-in "$2" "$user" "$3"
fi

release=$1
shift
commands=("$@")
# make run must reach its own line for a machine without a camera.
[ ${#commands[@]} -gt 0 ] || commands=(
    'make run 2>&1 | tee run.log; grep -qx "make run: no camera at device index 0 (exit status 255)" run.log'
    "make test" "make lint" "make package ARCH=arm64"
    "make camera-host-packages && scripts/test-cameras.sh $release amd64 --check-host"
    "make camera-host-packages ARCH=arm64 && scripts/test-cameras.sh $release arm64 --check-host")
source "$(dirname "$0")/roots.sh"
set_archive_options "$release"
clone=$(mktemp -d)
trap 'rm -rf "$clone"' EXIT
git clone --quiet "$(dirname "$0")/.." "$clone/frame-integrator"

# The user as a desktop's first account is: sudo (without a password, as nobody types here) and
# a range of subordinate ids for user namespaces.
hooks=(--customize-hook="chroot \"\$1\" useradd --create-home --shell /bin/bash $user"
    --customize-hook="echo '$user ALL=(ALL) NOPASSWD: ALL' >\"\$1/etc/sudoers.d/$user\""
    --customize-hook="echo 127.0.1.1 \$(hostname) >>\"\$1/etc/hosts\""
    --customize-hook="echo $user:100000:65536 | tee \"\$1/etc/subuid\" >\"\$1/etc/subgid\""
    --customize-hook="mkdir \"\$1/home/$user/frame-integrator\""
    --customize-hook="sync-in '$clone/frame-integrator' /home/$user/frame-integrator"
    --customize-hook="chroot \"\$1\" chown -R $user: /home/$user/frame-integrator")
for command in "${commands[@]}"; do
    hooks+=(--customize-hook="'$(realpath "$0")' --run-in \"\$1\" '$command'")
done
# The root's whole life, every command in it included, about twice what it takes on a busy machine.
bounded 3000 mmdebstrap --variant=minbase --include=make,sudo "${archive_options[@]}" "${hooks[@]}" \
    "$release" /dev/null
echo "== $release: passed on a clean clone in a fresh root, as a user with sudo: ${commands[*]}"
