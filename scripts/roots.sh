# What the scripts that install packages and make roots, machines and packages share; source
# this file.

# This machine's Debian release, by its code name, and architecture; sudo, for what only root
# may do, unless root.
host_release=$(. /etc/os-release && echo "$VERSION_CODENAME")
host_arch=$(dpkg --print-architecture)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# Sets archive_options to mmdebstrap's options for Debian release $1. The archive reached here
# is a snapshot: the Release files of testing and unstable carry a Valid-Until date that a
# snapshot outlives, after which apt refuses them. Stable releases' files carry none.
# mmdebstrap's --aptopt keeps the option inside the root it makes.
set_archive_options() {
    archive_options=()
    case $1 in
        bookworm | trixie) ;;
        *) archive_options=(--aptopt='Acquire::Check-Valid-Until "false"') ;;
    esac
}

# Runs a command for at most $1 seconds. One that runs past that is sent TERM, then KILL, with
# all it started, and fails with a line that names it and its limit: a hang under emulation then
# costs its limit and says where it was, not the whole run's. At a terminal the command stays in
# its process group, so that Ctrl+C reaches it, and the signals reach the command alone.
bounded() {
    local foreground=()
    [ ! -t 0 ] || foreground=(--foreground)
    timeout "${foreground[@]}" --kill-after=30 "$@" && return
    local status=$?
    case $status in 124 | 137) echo "bounded: '${*:2:3} ...' ran past its limit of $1 s" >&2 ;; esac
    return $status
}

# Makes the kernel run programs of Debian architecture $1 through qemu-user-static's emulator,
# as systemd does when that package is installed, and a container or a fresh root does not.
# The emulator is opened once, here (flag F), so that it runs them inside any root.
register_qemu_user() {
    local name=qemu-$(dpkg-architecture -a "$1" -q DEB_HOST_GNU_CPU 2>/dev/null)
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e "/proc/sys/fs/binfmt_misc/$name" ] ||
        $sudo sh -c "cat /usr/lib/binfmt.d/$name.conf >/proc/sys/fs/binfmt_misc/register"
}
