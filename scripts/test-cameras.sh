#!/bin/bash
# Runs the camera cases (tests/camera_cases.sh) against the kernel's virtual camera driver,
# vivid, in a qemu guest that boots Debian RELEASE's own kernel with its own libraries. The
# guest is made once (make-camera-guest.sh); the tool is built afresh from this working tree
# in a chroot of the guest's root on every run. Needs root and qemu-system-x86.
# Usage: test-cameras.sh RELEASE PACKAGE...   (the packages the guest holds)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/debian-root.sh"
release=$1

if [ "$(id -u)" -ne 0 ]; then
    echo "test-cameras: needs root (debootstrap and chroot)" >&2
    exit 1
fi

stage_label="$release cameras: "

guest=$("$repo/scripts/make-camera-guest.sh" "$@")
end_stage "making the guest (once per release and package list)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git -C "$repo" ls-files -z --cached --others --exclude-standard |
    tar -C "$repo" --null -T - --ignore-failed-read -cf - | tar -C "$work/src" -xf -
if ! in_root "$guest/root" "cd /root/frame-integrator && make build" "$work/src" \
    >"$work/build.log" 2>&1; then
    cat "$work/build.log"
    exit 1
fi
end_stage "building the tool"

mkdir -p "$work/payload/tests" "$work/payload/scripts"
cp "$work/src/build/app/frame-integrator" "$work/payload/"
cp "$repo/tests/camera_cases.sh" "$work/payload/tests/"
cp "$repo/scripts/preview-windows.sh" "$repo/scripts/with-virtual-display.sh" \
    "$work/payload/scripts/"
printf '#!/bin/bash\ncd /payload && %s %s frame-integrator\n' \
    "scripts/with-virtual-display.sh tests/camera_cases.sh" "$release" >"$work/payload/run"
chmod 755 "$work/payload/run"
tar -C "$work/payload" -cf "$work/payload.tar" .

# Software emulation: the machines this runs on have no usable KVM. The guest's console is
# this script's standard output, so every case's line shows as it ends. The cases take two to
# three minutes on an idle machine and several times that on a busy one; the timeout is there
# for a guest that hangs.
timeout 1800 qemu-system-x86_64 -accel tcg,thread=multi -cpu max -smp 2 -m 4096 \
    -nodefaults -no-user-config -display none -no-reboot -serial stdio \
    -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
    -append "root=/dev/vda rw init=/sbin/camera-guest-init console=ttyS0 quiet loglevel=3 panic=-1" \
    -drive "file=$guest/guest.img,format=raw,if=virtio,snapshot=on" \
    -drive "file=$work/payload.tar,format=raw,if=virtio,readonly=on" </dev/null |
    sed -u 's/\r$//' | tee "$work/serial.log"
end_stage "running the cases"
grep -qx 'payload exit status: 0' "$work/serial.log"
