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
cache=${CACHE_DIR:-/var/cache/frame-integrator-ci}
pristine=$cache/$release-minbase.tar
archives=$cache/$release-archives

if [ "$(id -u)" -ne 0 ]; then
    echo "test-in-fresh-debian: needs root (debootstrap and chroot)" >&2
    exit 1
fi
command -v debootstrap >/dev/null || "$repo/scripts/install-deps.sh" debootstrap
command -v git >/dev/null || "$repo/scripts/install-deps.sh" git

stage_start=$(date +%s)
# Prints how long the stage that just ended took, and starts the next.
end_stage() {
    local now
    now=$(date +%s)
    echo "== $release: $1 took $((now - stage_start)) s"
    stage_start=$now
}

mkdir -p "$cache" "$archives"
if [ ! -s "$pristine" ]; then
    staging=$(mktemp -d "$cache/$release-staging.XXXXXX")
    debootstrap --variant=minbase "$release" "$staging" http://deb.debian.org/debian >/dev/null
    tar -C "$staging" -cf "$pristine.partial" .
    mv "$pristine.partial" "$pristine"
    rm -rf "$staging"
    end_stage "making the minimal root"
fi

root=$(mktemp -d "$cache/$release-root.XXXXXX")
chmod 755 "$root"  # mktemp makes it private, and apt works as the user _apt
# The mounts below live in a private namespace and vanish with it, so removing the root
# afterwards can never reach the host's /proc or /dev.
trap 'rm -rf "$root"' EXIT
tar -C "$root" -xf "$pristine"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet "$repo" "$root/root/frame-integrator"
end_stage "unpacking the root and cloning $(git -C "$repo" rev-parse --short HEAD)"

in_root() {
    unshare --mount --propagation private /bin/bash -euo pipefail -c '
        root=$1 archives=$2; shift 2
        mount -t proc proc "$root/proc"
        mount -t sysfs -o ro sysfs "$root/sys"
        mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
        mount -t tmpfs tmpfs "$root/dev/shm"
        mount --bind "$archives" "$root/var/cache/apt/archives"
        exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            /bin/bash -euo pipefail -c "cd /root/frame-integrator && $*"' \
        in_root "$root" "$archives" "$@"
}

in_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends make >/dev/null"
end_stage "installing make"
for command in "${commands[@]}"; do
    in_root "$command"
    end_stage "$command"
done
echo "== $release: passed on a clean clone in a fresh root: ${commands[*]}"
