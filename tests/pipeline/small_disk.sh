#!/bin/sh
# Mounts or unmounts the 16 KB tmpfs of the full-disk test: small_disk.sh mount|unmount FOLDER. Where no tmpfs can be
# mounted, FOLDER.reason says why, and the test is skipped with that reason.
set -u
action=$1
folder=$2

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif sudo -n true 2>/dev/null; then
        sudo -n "$@"
    else
        echo "neither root nor sudo without a password" >&2
        return 1
    fi
}

if mountpoint -q "$folder" 2>/dev/null; then
    as_root umount "$folder"
fi
rm -f "$folder.reason"
if [ "$action" = mount ]; then
    mkdir -p "$folder"
    if ! failure=$(as_root mount -t tmpfs -o size=16k,mode=1777 tmpfs "$folder" 2>&1); then
        echo "no tmpfs mounted at $folder: $failure" >"$folder.reason"
    fi
fi
exit 0
