#!/bin/sh
# Makes Wine's 32-bit loader run here, for make test-win32: installs
# wine32:i386 when missing and, where the kernel cannot start 32-bit Linux
# programs itself, qemu-user-static with qemu-i386 registered in binfmt_misc.
# Needs root for what it installs or registers; does nothing when the loader
# already runs. make test never needs any of it.
# --native-only: where the loader would need qemu-i386, register nothing and
# exit with 3. Under qemu-i386, 32-bit Wine aborts or hangs in a program that
# does no more than start a thread and wait for it, so no result there tells
# anything about the launcher.
set -u
native_only=false
[ "${1:-}" = --native-only ] && native_only=true
started=$(date +%s)
step() { echo "== $* ($(( $(date +%s) - started ))s)"; }
die() { echo "FAIL: $*" >&2; exit 1; }
loader=/usr/lib/wine/wine
runs() { "$loader" --version >/dev/null 2>&1; }

# apt may be held for a while by another installation: wait for it.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 "$@"; }

install_packages() {  # PACKAGE...
  [ "$(id -u)" = 0 ] || die "installing $* needs root"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt_get update -q >/dev/null || die "apt-get update"
  # Refuse rather than let apt remove what the rest of the build depends on.
  if apt-get install -s --no-install-recommends "$@" | grep -q '^Remv'; then
    die "installing $* would remove packages; install it by hand"
  fi
  apt_get install -y -q --no-install-recommends "$@" >/dev/null || die "apt-get install $*"
}

if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  step "installing wine32:i386"
  install_packages wine32:i386
fi
runs && { step "Wine's 32-bit loader runs"; exit 0; }
$native_only && { step "this kernel cannot start 32-bit programs; Wine's 32-bit loader would need qemu-i386"; exit 3; }

# Debian's amd64 qemu-user-static registers no i386 handler (the kernel usually
# runs those itself), and there may be no systemd to register one anyway.
[ -x /usr/bin/qemu-i386-static ] || { step "installing qemu-user-static"; install_packages qemu-user-static; }
step "registering qemu-i386 with binfmt_misc"
bm=/proc/sys/fs/binfmt_misc
[ -e $bm/register ] || mount -t binfmt_misc binfmt_misc $bm || die "cannot mount binfmt_misc"
[ -e $bm/qemu-i386 ] && echo -1 > $bm/qemu-i386
# F opens the interpreter now, so it also works inside other mount namespaces.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
  > $bm/register || die "cannot register qemu-i386"
runs || die "Wine's 32-bit loader still does not start"
step "Wine's 32-bit loader runs under qemu-i386"
