#!/bin/sh
# Mounts or unmounts the slow file system of the slow-disk tests: slow_disk.sh mount|unmount FOLDER. Where it cannot be
# mounted (no /dev/fuse, no fusepy, not root), FOLDER.reason says why, and the tests are skipped with that reason.
set -u
action=$1
folder=$2
here=$(cd "$(dirname "$0")" && pwd)

. "$here/as_root.sh"

if mountpoint -q "$folder" 2>/dev/null; then
    as_root fusermount -u "$folder" 2>/dev/null || as_root umount -l "$folder"
fi
if [ -f "$folder.pid" ]; then
    kill "$(cat "$folder.pid")" 2>/dev/null
    rm -f "$folder.pid"
fi
rm -rf "$folder.reason" "$folder.backing" "$folder.backing.journal" "$folder.log"
[ "$action" = mount ] || exit 0

mkdir -p "$folder" "$folder.backing"
chmod 1777 "$folder.backing"
if [ ! -c /dev/fuse ]; then
    echo "no /dev/fuse on this machine" >"$folder.reason"
    exit 0
fi
if ! /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
    echo "Python's fusepy is missing (Debian's python3-fusepy)" >"$folder.reason"
    exit 0
fi
if ! runner=$(root_prefix 2>&1); then
    echo "$runner" >"$folder.reason"
    exit 0
fi
# Started directly rather than through a shell function, whose background copy would keep the caller's output
# open (and ctest waiting for it) for as long as the file system runs.
$runner /usr/bin/python3 "$here/slow_disk.py" "$folder.backing" "$folder" </dev/null >"$folder.log" 2>&1 &
echo $! >"$folder.pid"
tries=0
while ! mountpoint -q "$folder" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$(cat "$folder.pid")" 2>/dev/null; then
        echo "the slow file system did not mount: $(tail -c 300 "$folder.log")" >"$folder.reason"
        exit 0
    fi
    sleep 0.1
done
exit 0
