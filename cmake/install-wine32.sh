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
# Exits with 4, its last line saying why in apt's words, when apt cannot
# install 32-bit Wine: the archive, not the project, is then at fault.
set -u
native_only=false
[ "${1:-}" = --native-only ] && native_only=true
started=$(date +%s)
step() { echo "== $* ($(( $(date +%s) - started ))s)"; }
die() { echo "FAIL: $*" >&2; exit 1; }
loader=/usr/lib/wine/wine
runs() { "$loader" --version >/dev/null 2>&1; }

. "$(dirname "$0")/apt.sh"

# i386 is only asked of apt until the packages are known to install: a
# machine where they cannot keeps its updates free of the i386 archive, which
# make test never needs.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  apt_options="-o APT::Architectures::=$(dpkg --print-architecture) -o APT::Architectures::=i386"
  for a in $(dpkg --print-foreign-architectures); do apt_options="$apt_options -o APT::Architectures::=$a"; done
fi

install_packages() {  # WHAT PACKAGE...
  what=$1; shift
  [ "$(id -u)" = 0 ] || die "installing $* needs root"
  apt_update
  apt_installable --no-install-recommends "$@" || { echo "$what could not be installed: $apt_reason" >&2; exit 4; }
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt_install --no-install-recommends "$@" || { echo "$what could not be installed: $apt_reason" >&2; exit 4; }
}

if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  step "installing wine32:i386"
  install_packages "32-bit Wine" wine32:i386
fi
runs && { step "Wine's 32-bit loader runs"; exit 0; }
$native_only && { step "this kernel cannot start 32-bit programs; Wine's 32-bit loader would need qemu-i386"; exit 3; }

# Debian's amd64 qemu-user-static registers no i386 handler (the kernel usually
# runs those itself), and there may be no systemd to register one anyway.
[ -x /usr/bin/qemu-i386-static ] || { step "installing qemu-user-static"; install_packages qemu-i386 qemu-user-static; }
step "registering qemu-i386 with binfmt_misc"
bm=/proc/sys/fs/binfmt_misc
[ -e $bm/register ] || mount -t binfmt_misc binfmt_misc $bm || die "cannot mount binfmt_misc"
[ -e $bm/qemu-i386 ] && echo -1 > $bm/qemu-i386
# F opens the interpreter now, so it also works inside other mount namespaces.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
  > $bm/register || die "cannot register qemu-i386"
runs || die "Wine's 32-bit loader still does not start"
step "Wine's 32-bit loader runs under qemu-i386"
