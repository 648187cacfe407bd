# What the scripts that make roots, machines and packages share; source this file.

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

# Runs a command for at most $1 seconds. One that runs past that is ended, with everything it
# started, and fails with a line that names it and its limit: a hang under emulation then costs
# its limit and says where it was, not the whole run's.
bounded() {
    local limit=$1 status=0
    shift
    local command="$*"
    timeout --kill-after=30 "$limit" "$@" || status=$?
    [ "$status" -ne 124 ] && [ "$status" -ne 137 ] ||
        echo "bounded: '${command:0:200}' ran past its limit of $limit s and was ended" >&2
    return "$status"
}

# Makes the kernel run programs of Debian architecture $1 through qemu-user-static's emulator,
# as systemd does when that package is installed, and a container or a fresh root does not.
# The emulator is opened once, here (flag F), so that it runs them inside any root.
register_qemu_user() {
    local name sudo=""
    case $1 in
        arm64) name=aarch64 ;;
        amd64) name=x86_64 ;;
    esac
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e "/proc/sys/fs/binfmt_misc/qemu-$name" ] ||
        $sudo sh -c "cat /usr/lib/binfmt.d/qemu-$name.conf >/proc/sys/fs/binfmt_misc/register"
}
