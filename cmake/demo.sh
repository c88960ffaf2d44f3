#!/bin/sh
# The whole job on the bundled example: pack examples/ into an installer with
# packfile, run it under Wine, and show what that run logged and produced.
# Usage: demo.sh LAUNCHER PACKFILE EXAMPLES OUTDIR WINEPREFIX
set -e
launcher=$1 packfile=$2 examples=$3 out=$4 prefix=$(realpath -m "$5")
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
setup="$out/setup.exe"

echo "== packing $examples into $setup"
"$packfile" build --launcher "$launcher" --out "$setup" "$examples"
"$packfile" list "$setup" || true

"$here/wine-session.sh" start "$prefix"
trap '"$here/wine-session.sh" stop "$prefix"' EXIT
log="$prefix/drive_c/windows/temp/unpack.log"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)
rm -f "$prefix/drive_c/windows/temp/unpack-demo-receipt.txt"

echo "== running setup.exe under wine64"
set +e
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 "$setup" </dev/null >/dev/null 2>&1
code=$?
set -e
echo "exit code: $code"

echo "== lines this run appended to C:\\windows\\Temp\\unpack.log"
tail -c +$((before + 1)) "$log" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
for f in "$log.txt" "$prefix/drive_c/windows/temp/unpack-demo-receipt.txt"; do
  if [ -f "$f" ]; then
    echo "== $(basename "$f")"
    tr -d '\r' < "$f"
  fi
done
