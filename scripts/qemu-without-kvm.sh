#!/bin/bash
# Runs $QEMU_SYSTEM with the arguments given less -enable-kvm, which autopkgtest adds whenever
# /dev/kvm exists: the machine then runs under software emulation.
args=()
for arg in "$@"; do
    [ "$arg" = -enable-kvm ] || args+=("$arg")
done
exec "$QEMU_SYSTEM" "${args[@]}"
