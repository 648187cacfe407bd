# The apt options a fresh root or machine image of a Debian release needs; source this file.
# The archive reached here is a snapshot: the Release files of testing and unstable carry a
# Valid-Until date that a snapshot outlives, after which apt refuses them. Stable releases'
# files carry none. mmdebstrap's --aptopt keeps the option inside the root it makes.

# Sets archive_options to mmdebstrap's options for Debian release $1.
set_archive_options() {
    archive_options=()
    case $1 in
        bookworm | trixie) ;;
        *) archive_options=(--aptopt='Acquire::Check-Valid-Until "false"') ;;
    esac
}
