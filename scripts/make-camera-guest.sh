#!/bin/bash
# Makes, once, a qemu guest for the camera cases of Debian RELEASE on architecture ARCH (amd64
# or arm64) and prints its folder:
# root/ (a minimal root with the packages named, for building the tool in a chroot),
# guest.img (an ext4 image of that root), and the release's own vmlinuz and initrd.img.
# The guest's init runs the payload that its second disk carries as a tar archive, then
# powers the guest off. Guests are kept in CACHE_DIR (default /var/cache/frame-integrator-ci),
# named after the scripts that make them and the packages, so a change of any makes a new one.
# An arm64 root is set up under qemu-user, where dpkg is slow: the guest leaves out the
# packages' documentation, and its early userspace holds only the modules that find the disk.
# Usage: make-camera-guest.sh RELEASE ARCH PACKAGE...   Needs root (debootstrap, chroot).
set -euo pipefail
source "$(dirname "$0")/debian-root.sh"
release=$1
arch=$2
shift 2
packages="$*"

key=$( (cat "$0" "$(dirname "$0")/debian-root.sh" && echo "$packages") | sha256sum | cut -c1-12)
guest=$debian_root_cache/$release-$arch-camera-guest-$key
if [ -s "$guest/guest.img" ]; then
    echo "$guest"
    exit 0
fi

# An earlier guest of this release, or one left half made, is of no more use.
mkdir -p "$debian_root_cache"
rm -rf "$debian_root_cache/$release-$arch-camera-"*
staging=$(mktemp -d "$debian_root_cache/$release-$arch-camera-staging.XXXXXX")
mkdir "$staging/root"
unpack_root "$release" "$staging/root" "$arch"
cat >"$staging/root/etc/dpkg/dpkg.cfg.d/camera-guest" <<'EXCLUDE'
path-exclude=/usr/share/doc/*
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
path-exclude=/usr/share/locale/*
EXCLUDE
mkdir -p "$staging/root/etc/initramfs-tools/conf.d" "$staging/root/usr/share/initramfs-tools/modules.d"
echo MODULES=list >"$staging/root/etc/initramfs-tools/conf.d/camera-guest.conf"
printf '%s\n' virtio_pci virtio_blk ext4 >"$staging/root/usr/share/initramfs-tools/modules.d/camera-guest"
install_in_root "$staging/root" "$packages" >&2

cat >"$staging/root/sbin/camera-guest-init" <<'INIT'
#!/bin/bash
# Mounts what the kernel's early userspace left out, runs /payload/run from the second disk
# and powers off; the host reads the outcome from the serial console.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm /payload
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
tar -C /payload -xf /dev/vdb && /payload/run
echo "payload exit status: $?"
echo o >/proc/sysrq-trigger
sleep 60  # init must not end before the power-off does: the kernel would panic
INIT
chmod 755 "$staging/root/sbin/camera-guest-init"
cp "$staging"/root/boot/vmlinuz-* "$staging/vmlinuz"
cp "$staging"/root/boot/initrd.img-* "$staging/initrd.img"
size_mib=$(du -sm "$staging/root" | cut -f1)
mkfs.ext4 -q -L guest -d "$staging/root" "$staging/guest.img" "$((size_mib * 5 / 4 + 256))M" >&2
mv "$staging" "$guest"
echo "$guest"
