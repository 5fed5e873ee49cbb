#!/usr/bin/env bash
# A file system of its own for the tests: an image file loop-mounted on a
# folder, as root.
#   loop_fs.sh mount xfs|ext4 DIR   makes DIR.img, formats it (XFS with
#                                   reflink, so that files can share blocks)
#                                   and mounts it on DIR
#   loop_fs.sh unmount DIR          unmounts DIR and removes DIR.img
#   loop_fs.sh run DIR COMMAND...   runs COMMAND with TMPDIR on DIR, or exits
#                                   with 77 (skipped) when DIR is not mounted
# Mounting as another user than root, or without the tools, mounts nothing
# and says why; the tests that need the mount then skip.
set -uo pipefail
action=${1:-}

case $action in
mount)
    type=$2 dir=$3
    "$0" unmount "$dir" 2>/dev/null  # what a killed run left
    if [ "$(id -u)" != 0 ]; then
        echo "note: not root, no $type file system mounted; the tests on it are skipped"
        exit 0
    fi
    mkfs=(mkfs.ext4 -q -F)
    [ "$type" = xfs ] && mkfs=(mkfs.xfs -q -f -m reflink=1)
    if ! command -v "${mkfs[0]}" >/dev/null; then
        echo "note: no ${mkfs[0]} (Debian: xfsprogs), no $type file system mounted; the tests on it are skipped"
        exit 0
    fi
    mkdir -p "$dir" && truncate -s 512M "$dir.img" && "${mkfs[@]}" "$dir.img" >/dev/null &&
        mount -o loop "$dir.img" "$dir" && chmod 1777 "$dir" ||
        { echo "error: could not make and mount a $type file system on $dir"; exit 1; }
    ;;
unmount)
    dir=$2
    mountpoint -q "$dir" && umount "$dir"
    rm -f "$dir.img"
    rmdir "$dir" 2>/dev/null
    exit 0
    ;;
run)
    dir=$2
    shift 2
    if ! mountpoint -q "$dir"; then
        echo "skipped: $dir is not mounted (the tests on it need root and mkfs.xfs)"
        exit 77
    fi
    TMPDIR=$dir exec "$@"
    ;;
*)
    echo "usage: loop_fs.sh mount xfs|ext4 DIR | unmount DIR | run DIR COMMAND..." >&2
    exit 2
    ;;
esac
