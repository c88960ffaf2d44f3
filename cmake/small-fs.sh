#!/bin/sh
# start DIR: mounts a 1 MiB tmpfs at DIR, so that tests can fill a disk, and
#   leaves the marker DIR/mounted. Without root or tmpfs it only says so: the
#   tests that need it then skip, saying why.
# stop DIR: unmounts it.
dir=$2
case "$1" in
  start)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    if mount -t tmpfs -o size=1m tmpfs "$dir" 2>/dev/null; then
      touch "$dir/mounted"
    else
      echo "could not mount a small file system at $dir: disk-full tests will be skipped"
    fi
    ;;
  stop)
    mountpoint -q "$dir" && umount "$dir"
    ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
exit 0
