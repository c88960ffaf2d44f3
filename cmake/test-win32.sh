#!/bin/sh
# Runs the shipped 32-bit launcher end to end as a 32-bit process on 64-bit
# Windows (WOW64), which the wine64 tests never exercise: the OS probe must
# report x64:1 and the batch form must pick the native interpreter through
# the sysnative alias. Opt-in and slow: where the kernel cannot start 32-bit
# Linux programs, Wine's 32-bit loader runs under qemu-i386 via binfmt_misc.
# Usage: test-win32.sh LAUNCHER PACKFILE EXAMPLES OUTDIR WINEPREFIX
# WINE32_DEBUG sets WINEDEBUG for the launcher run (Wine's stderr is kept in
# OUTDIR/wine.err).
set -u
launcher=$1 packfile=$2 examples=$3 out=$(realpath -m "$4") prefix=$(realpath -m "$5")
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
started=$(date +%s)
step() { echo "== $* ($(( $(date +%s) - started ))s)"; }
die() { echo "FAIL: $*" >&2; exit 1; }

step "32-bit Wine and qemu-i386"
if ! dpkg -s wine32:i386 >/dev/null 2>&1 || ! [ -x /usr/bin/qemu-i386-static ]; then
  [ "$(id -u)" = 0 ] || die "installing wine32:i386 and qemu-user-static needs root"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q || die "apt-get update"
  # Refuse rather than let apt remove what the rest of the build depends on.
  if apt-get install -s --no-install-recommends wine32:i386 qemu-user-static | grep -q '^Remv'; then
    die "installing wine32:i386 would remove packages; install it by hand"
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    wine32:i386 qemu-user-static || die "apt-get install"
fi

# Debian's amd64 qemu-user-static registers no i386 handler (the kernel usually
# runs those itself), and there may be no systemd to register one anyway.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  step "registering qemu-i386 with binfmt_misc"
  bm=/proc/sys/fs/binfmt_misc
  [ -e $bm/register ] || mount -t binfmt_misc binfmt_misc $bm || die "cannot mount binfmt_misc"
  [ -e $bm/qemu-i386 ] && echo -1 > $bm/qemu-i386
  # F opens the interpreter now, so it also works inside other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    > $bm/register || die "cannot register qemu-i386"
  /usr/lib/wine/wine --version >/dev/null 2>&1 || die "Wine's 32-bit loader still does not start"
fi

mkdir -p "$out"
setup=$out/setup.exe
step "packing $examples onto $launcher"
"$packfile" build --launcher "$launcher" --out "$setup" "$examples" || die "packfile build"

# The 64-bit tools create the prefix natively; only what must be 32-bit runs
# under emulation. A first run still takes minutes (the WOW64 half of wineboot).
if [ ! -f "$prefix/system.reg" ]; then
  step "creating $prefix"
  mkdir -p "$prefix"
  /usr/lib/wine/wine64 wineboot --init </dev/null >"$out/wineboot.log" 2>&1
  wineserver -w
  [ -f "$prefix/system.reg" ] || die "could not create the Wine prefix $prefix"
fi
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null' EXIT
# Wine's services start detached from our output: started by the launcher's
# child instead, they would hold its pipes open long after it exits.
wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1

windows=$prefix/drive_c/windows
log=$windows/temp/unpack.log
workdir=$(find "$prefix/drive_c/users" -maxdepth 3 -ipath '*/temp' 2>/dev/null | head -n 1)/unpack
before=$(stat -c %s "$log" 2>/dev/null || echo 0)
rm -f "$log.txt" "$windows/temp/unpack-demo-receipt.txt"

step "running setup.exe with Wine's 32-bit loader"
run_started=$(date +%s)
WINEDEBUG=${WINE32_DEBUG:--all} timeout 900 /usr/lib/wine/wine "$setup" </dev/null >"$out/wine.out" 2>"$out/wine.err"
code=$?
step "setup.exe exited with $code after $(( $(date +%s) - run_started ))s"

lines=$out/appended.log
tail -c +$((before + 1)) "$log" 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' >"$lines"
echo "== lines this run appended to C:\\windows\\Temp\\unpack.log"
cat "$lines"

failed=0
check() {  # NAME COMMAND...
  name=$1; shift
  if "$@" >/dev/null 2>&1; then printf "PASS: %s\n" "$name"; else printf "FAIL: %s\n" "$name"; failed=1; fi
}
has() { grep -qF -- "$1" "$lines"; }
# Wine reports its Windows directory in its own casing (C:\windows).
sysnative='C:\windows\sysnative\cmd.exe'
check "OS line reports x64:1" grep -qE '\[CUtility::OSInfo\] OS .* x64:1( |$)' "$lines"
check "hello.txt extracted" has '\unpack\hello.txt'
check "run.bat extracted" has '\unpack\run.bat'
check "dir line runs $sysnative" has " file:$sysnative param:/c run.bat > C:\\windows\\Temp\\unpack.log.txt"
check "execute ok" grep -qE '\[CUnPackFileApp::InitInstance\] execute ok 0x[0-9A-F]{8}' "$lines"
check "execute wait" grep -qE '\[CUnPackFileApp::InitInstance\] execute wait pid:[0-9]+' "$lines"
check "execute done code:0" has '[CUnPackFileApp::InitInstance] execute done code:0'
check "exit code 0 (was $code)" test "$code" -eq 0
check "work directory removed" test ! -e "$workdir"
check "batch output written" test -s "$log.txt"
check "run.bat ran to its end" test -f "$windows/temp/unpack-demo-receipt.txt"
if [ -f "$log.txt" ]; then
  echo "== unpack.log.txt"
  tr -d '\r' <"$log.txt"
fi
[ -s "$out/wine.err" ] && { echo "== Wine's stderr (last lines)"; tail -n 5 "$out/wine.err"; }
step "done"
exit $failed
