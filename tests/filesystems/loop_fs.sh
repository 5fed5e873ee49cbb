#!/usr/bin/env bash
# A file system of its own for the tests: an image file loop-mounted on a
# folder, as root.
#   loop_fs.sh mount xfs|ext4 DIR   makes DIR.img (LOOP_FS_SIZE, default
#                                   512M, sparse), formats it (XFS with
#                                   reflink, so that files can share blocks)
#                                   and mounts it on DIR
#   loop_fs.sh remount DIR          unmounts DIR and mounts DIR.img again
#   loop_fs.sh unmount DIR          unmounts DIR and removes DIR.img
#   loop_fs.sh run DIR COMMAND...   runs COMMAND with TMPDIR on DIR, or exits
#                                   with 77 (skipped) when DIR is not mounted
# Mounting as another user than root, without the tools or without loop
# devices mounts nothing and says why; the tests that need the mount then
# skip.
set -uo pipefail
action=${1:-}

# Mounts DIR.img on DIR. Another test taking a free loop device at the same
# moment can take the one mount chose: then it tries again.
mount_image() { # dir
    for attempt in 1 2 3 4 5; do
        mount -o loop "$1.img" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    mount -o loop "$1.img" "$1"
}

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
    # A machine without loop devices (some containers) cannot mount one.
    if ! { mkdir -p "$dir" && truncate -s "${LOOP_FS_SIZE:-512M}" "$dir.img" && "${mkfs[@]}" "$dir.img" >/dev/null &&
           mount_image "$dir" && chmod 1777 "$dir"; }; then
        echo "note: could not make and mount a $type file system on $dir (no loop device?); the tests on it are skipped"
        "$0" unmount "$dir"
        exit 0
    fi
    ;;
remount)
    umount "$2" && mount_image "$2"
    exit
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
        echo "skipped: $dir is not mounted (the tests on it need root, mkfs.xfs and loop devices)"
        exit 77
    fi
    TMPDIR=$dir exec "$@"
    ;;
*)
    echo "usage: loop_fs.sh mount xfs|ext4 DIR | remount DIR | unmount DIR | run DIR COMMAND..." >&2
    exit 2
    ;;
esac
