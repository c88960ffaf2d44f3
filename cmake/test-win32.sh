#!/bin/sh
# make test-win32: the tests labelled win32 (the shipped 32-bit launcher under
# 32-bit Wine), on the host when it can install 32-bit Wine, otherwise in a
# Debian root made for them from the main archive (cmake/win32-root.sh),
# against the same build tree.
# Usage: test-win32.sh BUILD HOST_DIR SOURCE [--optional]
# --optional (CI): never qemu-i386 (see install-wine32.sh), and where neither
# way works here, one line "make test-win32 not run: why" and success:
# nothing in the project is then at fault.
set -u
build=$1 host_dir=$2 source=$3 optional=${4:-}
here=$(dirname "$0")
started=$(date +%s)
step() { echo "== $* ($(( $(date +%s) - started ))s)"; }
root=$build/win32-root
# Why the host cannot install 32-bit Wine: kept, so that later runs go
# straight to the root instead of spending apt's retries to learn it again.
# make clean forgets it with the rest of the build folder.
verdict=$build/win32-host
tests="ctest --test-dir $host_dir --output-on-failure -L win32 -V"

not_run() {
  [ -n "$optional" ] && { echo "make test-win32 not run: $*"; exit 0; }
  echo "FAIL: $*" >&2
  exit 1
}

# Whether this kernel starts 32-bit programs itself: it runs a 93-byte i386
# program that only exits. Known before apt or the root spend minutes, since
# under qemu-i386 32-bit Wine breaks (see install-wine32.sh) and no way here
# would tell anything about the launcher.
bytes() { for b in "$@"; do printf "\\$(printf %o "0x$b")"; done; }
runs_i386() {
  probe=$(mktemp)
  {
    bytes 7f 45 4c 46 01 01 01 00 00 00 00 00 00 00 00 00  # ELF, 32-bit, little-endian
    bytes 02 00 03 00 01 00 00 00 54 80 04 08 34 00 00 00  # executable, i386, entry, program header at 52
    bytes 00 00 00 00 00 00 00 00 34 00 20 00 01 00 00 00  # one program header, no sections
    bytes 00 00 00 00
    bytes 01 00 00 00 00 00 00 00 00 80 04 08 00 80 04 08  # the file loaded at 0x8048000,
    bytes 5d 00 00 00 5d 00 00 00 05 00 00 00 00 10 00 00  # its 93 bytes readable and executable
    bytes b8 01 00 00 00 31 db cd 80                       # exit(0)
  } > "$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  return $status
}
native=true
runs_i386 || native=false
$native || [ -z "$optional" ] || not_run "32-bit programs need qemu-i386 here (see README)"

if [ ! -f "$verdict" ]; then
  errors=$(mktemp)
  status=0
  "$here/install-wine32.sh" ${optional:+--native-only} 2>"$errors" || status=$?
  cat "$errors" >&2
  reason=$(tail -n 1 "$errors")
  rm -f "$errors"
  case $status in
    0) exec $tests ;;
    3) not_run "32-bit programs need qemu-i386 here (see README)" ;;
    4) echo "$reason" > "$verdict" ;;
    *) [ "$(id -u)" = 0 ] || not_run "32-bit Wine is missing and installing it needs root"
       exit "$status" ;;
  esac
fi

$native || not_run "32-bit programs need qemu-i386 here (see README)"
step "$(cat "$verdict"); the tests run in $root"
[ "$(id -u)" = 0 ] || not_run "$(cat "$verdict"), and making a Debian root for the tests needs root"
"$here/win32-root.sh" make "$root" || not_run "$(cat "$verdict"), and no Debian root could be made for the tests"
step "the root is ready"
exec "$here/win32-root.sh" run "$root" "$source" "$build" -- $tests
