#!/bin/bash
# Runs the camera cases (tests/camera_cases.sh) against the kernel's virtual camera driver,
# vivid, in a qemu guest that boots Debian RELEASE's own kernel for ARCH (amd64 or arm64) with
# its own libraries. The guest is made once (make-camera-guest.sh). On amd64 the tool is built
# afresh from this working tree in a chroot of the guest's root; on arm64 its Debian package is
# (package-for-arch.sh), and the guest installs it with apt, so that the package is what the
# cases prove. Needs root, and qemu-system-x86 or qemu-system-arm.
# Usage: test-cameras.sh RELEASE ARCH PACKAGE...   (the packages the guest holds)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/debian-root.sh"
release=$1
arch=$2

if [ "$(id -u)" -ne 0 ]; then
    echo "test-cameras: needs root (debootstrap and chroot)" >&2
    exit 1
fi

stage_label="$release $arch cameras: "

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload/tests" "$work/payload/scripts"
install=""
if [ "$arch" = amd64 ]; then
    guest=$("$repo/scripts/make-camera-guest.sh" "$@")
    end_stage "making the guest (once per release and package list)"
    in_root_on_working_tree "$guest/root" "$work/src" "make build"
    end_stage "building the tool"
    cp "$work/src/build/app/frame-integrator" "$work/payload/"
    tool=./frame-integrator
else
    "$repo/scripts/package-for-arch.sh" "$@"
    guest=$("$repo/scripts/make-camera-guest.sh" "$@")
    end_stage "making the guest and the package"
    # The unit tests' worked-out integration and PSNR values, to the last digit, on arm64.
    in_root_on_working_tree "$guest/root" "$work/unit" "cmake -S . -B build-unit \
        -DBUILD_TESTING=ON -DFRAME_INTEGRATOR_BENCHMARKS=OFF >/dev/null &&
        cmake --build build-unit -j $(nproc) --target unit_tests >/dev/null &&
        build-unit/tests/unit_tests --gtest_brief=1"
    tail -n 1 "$work/unit.log"
    end_stage "building and running the unit tests"
    cp "$repo/build-package-$arch/frame-integrator_"*"_$arch.deb" "$work/payload/"
    # The guest has no network: apt installs the package with the libraries the guest holds.
    install="DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /payload/frame-integrator_*.deb >/dev/null && "
    tool=/usr/bin/frame-integrator
fi
cp "$repo/tests/camera_cases.sh" "$work/payload/tests/"
cp "$repo/scripts/preview-windows.sh" "$repo/scripts/with-virtual-display.sh" \
    "$work/payload/scripts/"
printf '#!/bin/bash\necho "the guest booted"\ncd /payload && %s%s %s %s\n' "$install" \
    "scripts/with-virtual-display.sh tests/camera_cases.sh" "$release" "$tool" >"$work/payload/run"
chmod 755 "$work/payload/run"
tar -C "$work/payload" -cf "$work/payload.tar" .

# Software emulation: the machines this runs on have no usable KVM. The guest's console is
# this script's standard output, so every case's line shows as it ends. The cases take two to
# three minutes on an idle amd64 machine, several times that on arm64 (emulated on top) and on
# a busy machine; the timeout is there for a guest that hangs.
case $arch in
    amd64)
        qemu=(qemu-system-x86_64 -cpu max)
        console=ttyS0
        bound=1800
        ;;
    arm64)
        # cortex-a72: a board's core, and several times quicker to emulate than -cpu max.
        qemu=(qemu-system-aarch64 -machine virt -cpu cortex-a72)
        console=ttyAMA0
        bound=3600
        ;;
esac
guest_status=0
timeout "$bound" "${qemu[@]}" -accel tcg,thread=multi -smp 2 -m 4096 \
    -nodefaults -no-user-config -display none -no-reboot -serial stdio \
    -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
    -append "root=/dev/vda rw init=/sbin/camera-guest-init console=$console quiet loglevel=3 panic=-1" \
    -drive "file=$guest/guest.img,format=raw,if=virtio,snapshot=on" \
    -drive "file=$work/payload.tar,format=raw,if=virtio,readonly=on" </dev/null |
    sed -u 's/\r$//' | tee "$work/serial.log" || guest_status=$?
end_stage "running the cases"
if [ "$guest_status" -eq 124 ]; then
    echo "test-cameras: the guest did not power off within $bound s; its console's last lines:" >&2
    tail -n 20 "$work/serial.log" >&2
    [ -s "$work/serial.log" ] || echo "(none: it hung before it booted)" >&2
fi
grep -qx 'payload exit status: 0' "$work/serial.log"
