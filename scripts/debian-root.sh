# Shell functions for minimal Debian roots made with debootstrap; source this file. Needs root.
# CACHE_DIR (default /var/cache/frame-integrator-ci) keeps each release's pristine root as a
# tarball and the packages downloaded into any root, so that later roots download nothing.

debian_root_cache=${CACHE_DIR:-/var/cache/frame-integrator-ci}

# Says what this machine lacks to run programs of Debian architecture $1 and how to get it,
# and fails; succeeds for its own architecture or one the kernel hands to qemu-user.
can_run_architecture() {
    local arch=$1 qemu
    [ "$arch" != "$(dpkg --print-architecture)" ] || return 0
    case $arch in
        arm64) qemu=aarch64 ;;
        *) echo "no way known here to run $arch programs" >&2 && return 1 ;;
    esac
    grep -qx enabled "/proc/sys/fs/binfmt_misc/qemu-$qemu" 2>/dev/null && return 0
    echo "this machine can't run $arch programs: the kernel does not hand them to qemu-$qemu." >&2
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
        echo "binfmt_misc is not mounted; as root:" >&2
        echo "    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc" >&2
    fi
    echo "Then register Debian's qemu-$qemu entry (package qemu-user-static), as root:" >&2
    echo "    cat /usr/lib/binfmt.d/qemu-$qemu.conf >/proc/sys/fs/binfmt_misc/register" >&2
    echo "(A system running systemd does both when qemu-user-static is installed.)" >&2
    return 1
}

# Prints the tarball of a pristine minimal root of release $1 and Debian architecture $2
# (default this machine's), made on first use. A root of another architecture is unpacked
# natively and set up under qemu-user.
pristine_root_tar() {
    local release=$1 arch=${2:-$(dpkg --print-architecture)} tarball staging
    tarball=$debian_root_cache/$release-minbase.tar
    [ "$arch" = "$(dpkg --print-architecture)" ] || tarball=$debian_root_cache/$release-$arch-minbase.tar
    if [ ! -s "$tarball" ]; then
        command -v debootstrap >/dev/null ||
            "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" debootstrap >&2
        can_run_architecture "$arch"
        mkdir -p "$debian_root_cache"
        staging=$(mktemp -d "$debian_root_cache/$release-$arch-staging.XXXXXX")
        debootstrap --variant=minbase --arch="$arch" --foreign "$release" "$staging" \
            http://deb.debian.org/debian >/dev/null
        chroot "$staging" /debootstrap/debootstrap --second-stage >/dev/null
        tar -C "$staging" -cf "$tarball.partial" .
        mv "$tarball.partial" "$tarball"
        rm -rf "$staging"
    fi
    echo "$tarball"
}

# Unpacks a new root of release $1 and architecture $3 (default this machine's) into the empty
# folder $2, ready for in_root.
unpack_root() {
    chmod 755 "$2"  # mktemp makes folders private, and apt works as the user _apt
    tar -C "$2" -xf "$(pristine_root_tar "$1" "${3:-}")"
    cp /etc/resolv.conf "$2/etc/resolv.conf"
}

# Runs the command $2 in the root $1 under bash, with /proc, /sys, /dev/pts, /dev/shm and the
# shared package cache of its release mounted, and the folder $3 (if given) at
# /root/frame-integrator. The mounts live in a private namespace and vanish with it, so
# removing the root afterwards can never reach the host's /proc or /dev.
in_root() {
    local root=$1 command=$2 source=${3:-} release
    release=$(. "$root/etc/os-release" && echo "$VERSION_CODENAME")
    mkdir -p "$debian_root_cache/$release-archives"
    unshare --mount --propagation private /bin/bash -euo pipefail -c '
        root=$1 archives=$2 source=$3 command=$4
        # The root is a mount point, as on a booted system, so that unshare --mount works inside.
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount -t sysfs -o ro sysfs "$root/sys"
        mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
        mount -t tmpfs tmpfs "$root/dev/shm"
        mount --bind "$archives" "$root/var/cache/apt/archives"
        if [ -n "$source" ]; then
            mkdir -p "$root/root/frame-integrator"
            mount --bind "$source" "$root/root/frame-integrator"
        fi
        exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            /bin/bash -euo pipefail -c "$command"' \
        in_root "$root" "$debian_root_cache/$release-archives" "$source" "$command"
}

# Copies this working tree (what git tracks, and new files it doesn't ignore) into the new
# folder $2 and runs the command $3 there inside the root $1; shows its output if it fails.
in_root_on_working_tree() {
    local root=$1 copy=$2 command=$3 repo
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    mkdir "$copy"
    git -C "$repo" ls-files -z --cached --others --exclude-standard |
        tar -C "$repo" --null -T - --ignore-failed-read -cf - | tar -C "$copy" -xf -
    if ! in_root "$root" "cd /root/frame-integrator && $command" "$copy" >"$copy.log" 2>&1; then
        cat "$copy.log"
        return 1
    fi
}

# Installs Debian packages $2... into the root $1, without recommended packages.
install_in_root() {
    local root=$1
    shift
    in_root "$root" "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends $* >/dev/null"
}

# Prints how long the stage that just ended took, labelled with $stage_label, and starts the
# next; the first stage starts when this file is sourced.
stage_start=$(date +%s)
end_stage() {
    local now
    now=$(date +%s)
    echo "== ${stage_label:-}$1 took $((now - stage_start)) s"
    stage_start=$now
}
