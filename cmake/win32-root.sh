#!/bin/sh
# A Debian root of the host's own release holding 64- and 32-bit Wine and what
# the win32 tests need, for hosts whose apt cannot install 32-bit Wine (see
# cmake/test-win32.sh). It is made from the main archive alone: its amd64 and
# i386 packages then come from indexes published together, which agree even
# when the host's security index for i386 lags behind its amd64 one.
#   make ROOT          makes it unless it is there (1.9 GB; 35 s on an idle
#                      machine, minutes on a busy one)
#   run ROOT DIR... -- COMMAND...
#                      runs COMMAND in it, in the first DIR, with each DIR
#                      (the source and build trees) at the same path, so
#                      that the build tree's absolute paths hold inside
#   remove ROOT        removes it
# Every mount lives in a mount namespace of its own and every process in a
# PID namespace whose first process dies with the caller. When a run ends,
# fails or is killed, the kernel ends both: no wineserver or Xvfb left running
# outlives it or keeps a mount alive, and the host never sees the mounts, so
# removing the root can never reach through one into the trees.
# All of it needs root.
set -eu
action=$1
root=$(realpath -m "$2")
shift 2

isolated="unshare --mount --pid --ipc --fork --kill-child"

# Refuses while anything is mounted beneath the directory: rm would go on into
# the mount and delete what it shows. --one-file-system is only a second
# guard: it stops at mounts of other file systems, not at a bind mount of the
# trees' own.
remove() {
  [ -e "$1" ] || return 0
  if awk -v p="$1" '$5 == p || index($5, p "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
    echo "FAIL: something is mounted beneath $1; not removing it" >&2
    exit 1
  fi
  rm -rf --one-file-system "$1"
}

# The mirror the host's own apt sources name for its release; the security
# suite is left out on purpose.
mirror() {
  apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE)' |
    awk -v release="$1" '$1 == "deb" && $3 == release { print $2; exit }'
}

make_root() {
  [ -d "$root" ] && return 0
  if ! command -v mmdebstrap >/dev/null; then
    echo "== installing mmdebstrap"
    . "$(dirname "$0")/apt.sh"
    apt_update
    apt_installable --no-install-recommends mmdebstrap && apt_install --no-install-recommends mmdebstrap ||
      { echo "FAIL: cannot install mmdebstrap: $apt_reason" >&2; exit 1; }
  fi
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  url=$(mirror "$release")
  url=${url:-http://deb.debian.org/debian/}
  echo "== making a Debian $release root from $url in $root"
  # Made beside, then renamed: a root that is there is whole, and a run killed
  # while making one leaves only the side directory, removed by the next.
  # mmdebstrap mounts /proc and /dev in the root while installing: in the
  # namespaces, those go with it however it ends. Like cmake/apt.sh, it rides
  # out a mirror briefly out of step, four tries over about a minute and a half.
  tries=4
  while :; do
    remove "$root.new"
    $isolated --mount-proc mmdebstrap --mode=root --variant=apt --quiet \
      --architectures="$(dpkg --print-architecture),i386" \
      --include=wine64,wine32:i386,wine,cmake,xvfb,xdotool,x11-apps,imagemagick,osslsigncode,openssl \
      "$release" "$root.new" "deb $url $release main" "deb $url $release-updates main" && break
    tries=$((tries - 1))
    [ "$tries" = 0 ] && { remove "$root.new"; echo "FAIL: mmdebstrap could not make the root" >&2; exit 1; }
    echo "mmdebstrap failed; trying again in 30s"
    sleep 30
  done
  mv "$root.new" "$root"
}

case "$action" in
  make) make_root ;;
  run)
    # The network namespace keeps the root's X server apart from the host's:
    # displays are also abstract sockets, which the root's own /tmp does not
    # separate, and other builds on the machine take the same numbers.
    exec $isolated --net "$0" inside "$root" "$@" ;;
  inside)
    # PID 1 of the namespaces: mounts, then runs the command as its child, so
    # that whatever the command leaves running is ended when this returns.
    first=
    while [ "$1" != -- ]; do
      mkdir -p "$root$1"
      mount --bind "$1" "$root$1"
      first=${first:-$1}
      shift
    done
    shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /sys "$root/sys"
    chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
      sh -c 'cd "$1" && shift && exec "$@"' sh "$first" "$@"
    ;;
  remove) remove "$root" ;;
  *) echo "usage: $0 make|run|remove ROOT ..." >&2; exit 2 ;;
esac
