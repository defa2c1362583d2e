#!/bin/sh
# Mounts or unmounts the 16 KB tmpfs of the full-disk test: small_disk.sh mount|unmount FOLDER. Where no tmpfs can be
# mounted, FOLDER.reason says why, and the test is skipped with that reason.
set -u
action=$1
folder=$2

. "$(dirname "$0")/as_root.sh"

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
