#!/bin/bash
# Runs the package's autopkgtests (debian/tests) on the package that build-package.sh left for
# Debian RELEASE on ARCH: for this machine's architecture first in a container, as Debian's CI
# runs them, where the camera cases must be skipped and the rest pass; then in a qemu machine of
# that release and architecture, under KVM where a guest can run there, else under software
# emulation. The container needs a range of subordinate ids for this user, which it adds to
# /etc/subuid and /etc/subgid when missing. The machine's image is made once by
# mmdebstrap-autopkgtest-build-qemu, with what the tests and the package need already installed
# (dpkg is slow under emulation), and kept in CACHE_DIR (default /var/cache/frame-integrator-ci),
# named after everything that goes into it. First of all, autopkgtest's qemu runner checks that
# the programs and firmware it needs are installed.
# With --check-host, only checks that; with --image-only, also makes the image.
# Usage: test-cameras.sh RELEASE ARCH [--check-host | --image-only]
set -euo pipefail
release=$1
arch=$2
only=${3:-}
repo=$(cd "$(dirname "$0")/.." && pwd)
packages=$repo/build-package/$release-$arch
cache=${CACHE_DIR:-/var/cache/frame-integrator-ci}

# Without KVM the machine boots in about two minutes, far beyond autopkgtest's default wait.
qemu=(--boot=efi --ram-size=4096 --cpus=2 --timeout-reboot=900)
# Each long step has a limit of its own, about twice what it takes on a busy machine: the image
# (dpkg runs under qemu-user for arm64) and the machine's run, boot included.
case $arch in
    amd64) qemu_system=qemu-system-x86_64 guest_machine=x86_64 image_limit=1800 run_limit=1800 ;;
    arm64) qemu_system=qemu-system-aarch64 guest_machine=aarch64 image_limit=5400 run_limit=2400
        qemu+=(--qemu-architecture=aarch64 --dpkg-architecture=arm64) ;;
    *) echo "test-cameras: amd64 or arm64 only" >&2 && exit 2 ;;
esac
# autopkgtest turns KVM on whenever /dev/kvm exists, but a virtual machine can have a /dev/kvm
# whose guests die at their first instruction. KVM runs a guest only where this user may open
# /dev/kvm, the guest is of the host's own kind and, on x86, the processor has VMX or SVM;
# otherwise the machine runs under software emulation, through a qemu that drops -enable-kvm.
if [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ "$(uname -m)" = "$guest_machine" ] &&
    { [ "$guest_machine" != x86_64 ] || grep -qw -e vmx -e svm /proc/cpuinfo; }; then
    accelerator=KVM cpu=host
else
    accelerator="software emulation (no KVM that can run it here)" cpu=max
    export QEMU_SYSTEM=$qemu_system
    qemu+=(--qemu-command="$repo/scripts/qemu-without-kvm.sh")
fi
[ "$arch" != amd64 ] || qemu+=("--qemu-options=-cpu $cpu")

# Before it boots anything, the runner checks what it needs and says "ok" once all is there. It
# refuses a /dev/kvm that this user may not open, even where the machine runs without KVM.
runner_said=$(autopkgtest-virt-qemu "${qemu[@]}" /nonexistent.img </dev/null 2>&1) || true
[ "${runner_said%%$'\n'*}" = ok ] || { echo "test-cameras: autopkgtest's qemu runner refuses to" \
    "start: $runner_said (where it names /dev/kvm: run as root, or sudo adduser $(id -un) kvm" \
    "and log in again)" >&2; exit 1; }
echo "test-cameras: the $release $arch machine will run under $accelerator"
[ "$only" != --check-host ] || exit 0

source "$repo/scripts/roots.sh"
set_archive_options "$release"
deb=$(echo "$packages"/frame-integrator_*_"$arch".deb)
# The names in the tests' and the package's dependencies, without versions, and without "@" (the
# package itself).
needed=$( (sed -n 's/^Depends://p' "$repo/debian/tests/control" && dpkg-deb -f "$deb" Depends) |
    tr ',' '\n' | sed 's/([^)]*)//; s/ //g' | grep -vx -e '@' -e '' | sort -u | paste -sd,)
builder_options=(--boot=efi --arch="$arch")
# The image leaves out documentation: less for dpkg to write under emulation.
mmdebstrap_options=("${archive_options[@]}" --include="$needed"
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*'
    --dpkgopt='path-exclude=/usr/share/locale/*')
key=$(echo "$release ${builder_options[*]} ${mmdebstrap_options[*]}" | sha256sum | cut -c1-12)
image=$cache/$release-$arch-$key.img
if [ ! -s "$image" ]; then
    mkdir -p "$cache"
    rm -f "$cache/$release-$arch-"*.img
    [ "$arch" = "$host_arch" ] || register_qemu_user "$arch"
    # Through bash: Debian 12's dash lacks the pipefail that the backported script sets.
    bounded "$image_limit" bash "$(command -v mmdebstrap-autopkgtest-build-qemu)" \
        "${builder_options[@]}" "$release" "$image.partial" -- "${mmdebstrap_options[@]}"
    mv "$image.partial" "$image"
fi
[ "$only" != --image-only ] || exit 0
dsc=$(echo "$packages"/frame-integrator_*.dsc)

# autopkgtest's container maps ids from this user's range in /etc/subuid and /etc/subgid: one
# is added first, past the ranges there, where the user has none. util-linux's unshare
# --map-auto reads a name as uid 0 too, so root's range must be the first line.
give_subordinate_ids() {
    local user start file
    user=$(id -un)
    $sudo touch /etc/subuid /etc/subgid
    start=$(cat /etc/subuid /etc/subgid | awk -F: '$2 + $3 > end { end = $2 + $3 } END { print end + 100000 }')
    for file in /etc/subuid /etc/subgid; do
        grep -q "^$user:" <(if [ "$user" = root ]; then head -n 1 "$file"; else cat "$file"; fi) ||
            { echo "$user:$start:65536" | cat - "$file" | $sudo tee "$file.new" >/dev/null &&
                $sudo mv "$file.new" "$file"; }
    done
}
if [ "$arch" = "$host_arch" ]; then
    give_subordinate_ids
    out=$packages/autopkgtest-container
    status=0
    bounded 900 autopkgtest --output-dir="$out" "$deb" "$dsc" -- unshare --release "$release" \
        --bootstrapcmd="mmdebstrap --mode=unshare --variant=apt --skip=output/mknod,cleanup/apt/lists ${archive_options[*]@Q}" ||
        status=$?
    # 8: every test that is not superficial was skipped, and the rest passed.
    [ "$status" -eq 8 ] && grep -Eqx 'without-camera +PASS \(superficial\)' "$out/summary" &&
        grep -Eq '^camera-cases +SKIP' "$out/summary" ||
        { echo "test-cameras: in a $release container, autopkgtest ended with $status:"; cat; exit 1; } <"$out/summary" >&2
    echo "test-cameras: in a $release container, the camera cases were skipped and the rest passed"
fi

# autopkgtest gives its setup steps fixed waits of a few seconds, which a busy machine can miss:
# a testbed that failed to start (status 16) gets one more try, a failed test none.
for attempt in first second; do
    status=0
    bounded "$run_limit" autopkgtest --output-dir="$packages/autopkgtest-$attempt" \
        "$deb" "$dsc" -- qemu "${qemu[@]}" "$image" || status=$?
    [ "$status" -eq 16 ] && [ "$attempt" = first ] || break
    echo "test-cameras: the $release $arch testbed failed to start; trying once more"
done
exit "$status"
