#!/bin/sh
# Measures the 64-bit launcher under wine64, prints a markdown table and
# writes it, with the machine and the date, to bench-results.md beside WORK_DIR (copy it
# over bench/results.md to publish it). The figures are reported, never
# judged: this never fails on speed.
# Usage: run.sh WIN64_DIR WIN32_DIR HOST_DIR WORK_DIR WINEPREFIX   (RUNS=7 by default)
set -e
win64=$(realpath "$1") win32=$(realpath "$2") host=$(realpath "$3")
work=$(realpath -m "$4") prefix=$(realpath -m "$5")
runs=${RUNS:-7}
here=$(cd "$(dirname "$0")" && pwd)
# Beside the work folder, which goes at the end.
results="$(dirname "$work")/bench-results.md"
launcher="$win64/launcher/UnPackFile.exe"
runner="$win64/bench/bench_runner.exe"
packfile="$host/tools/packfile/packfile"
sizes="16 512"
# The signature check reads a signed installer once more: measured on this size.
sig=256

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Runs bench_runner; its line lands in $work/out. A file, never a pipe: a
# Wine process that outlives the program could hold a pipe open.
bench_runner() {
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    timeout 900 /usr/lib/wine/wine64 "$runner" "$@" </dev/null >"$work/out" 2>"$work/err" ||
    { echo "bench_runner $1 failed: $(cat "$work/err")" >&2; exit 1; }
}

rm -rf "$work"
mkdir -p "$work/samples"
"$here/../cmake/wine-session.sh" start "$prefix"
trap '"$here/../cmake/wine-session.sh" stop "$prefix"; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# Pseudo-random bytes (an AES-CTR keystream with a fixed key), so that the
# same payload is measured every time and nothing can compress or skip zeros.
echo "== making packages in $work" >&2
mkdir -p "$work/pkg-empty"
"$packfile" build --launcher "$launcher" --out "$work/setup-empty.exe" --no-run-bat "$work/pkg-empty" >/dev/null
for mib in $sizes; do
  mkdir -p "$work/pkg-$mib"
  openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv 00000000000000000000000000000000 \
    -in /dev/zero 2>/dev/null | head -c $((mib * 1048576)) >"$work/pkg-$mib/payload.bin"
  "$packfile" build --launcher "$launcher" --out "$work/setup-$mib.exe" --no-run-bat "$work/pkg-$mib" >/dev/null
done

# Signed with a certificate made for this run only, as packfile signs.
mkdir -p "$work/pkg-$sig"
head -c $((sig * 1048576)) "$work/pkg-512/payload.bin" >"$work/pkg-$sig/payload.bin"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj /CN=UnPackFile-bench \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
for pkg in empty $sig; do
  "$packfile" build --launcher "$launcher" --out "$work/setup-$pkg-signed.exe" --no-run-bat \
    --sign --cert "$work/cert.pem" --key "$work/key.pem" "$work/pkg-$pkg" >/dev/null
done
"$packfile" build --launcher "$launcher" --out "$work/setup-$sig.exe" --no-run-bat "$work/pkg-$sig" >/dev/null

user_temp="$prefix/drive_c/users/$(id -un)/Temp"
win_temp="C:\\users\\$(id -un)\\Temp\\"
copy_target="${win_temp}bench-rawcopy.bin"
stamp="$(winpath "$work/stamp.txt")"
child="$(winpath "$runner")"

# One launcher run in program form with an instant child that stamps the
# time it started. Appends wall_us to_child_us peak_bytes to samples/run-PKG.
run_launcher() {
  rm -rf "$user_temp/unpack"  # a run that failed earlier must not leave work for this one
  bench_runner run "$stamp" "$(winpath "$work/setup-$1.exe")" "$child" stamp "$stamp"
  read -r wall to_child peak code <"$work/out"
  [ "$code" = 0 ] || { echo "the launcher exited with $code" >&2; exit 1; }
  echo "$wall $to_child $peak" >>"$work/samples/run-$1"
}

rawcopy() {
  bench_runner rawcopy "$(winpath "$work/pkg-$1/payload.bin")" "$copy_target"
  cat "$work/out" >>"$work/samples/raw-$1"
}

extract() {
  rm -rf "$user_temp/unpack"
  bench_runner extract "$(winpath "$work/setup-$1.exe")" "$win_temp"
  cat "$work/out" >>"$work/samples/extract-$1"
}

# The signed installer read once, read and hashed, and checked as the
# launcher checks it, each in a fresh process (wintrust's loading included).
signature() {
  for what in read sha256; do
    bench_runner $what "$(winpath "$work/setup-$sig-signed.exe")"
    cat "$work/out" >>"$work/samples/$what-$sig"
  done
  for pkg in empty $sig; do
    bench_runner verify "$(winpath "$work/setup-$pkg-signed.exe")"
    read -r us result <"$work/out"
    [ "$result" = 0 ] || { echo "the signature check refused setup-$pkg-signed.exe: $result" >&2; exit 1; }
    echo "$us" >>"$work/samples/verify-$pkg"
  done
}

echo "== warming up" >&2
rawcopy 16
extract 16
run_launcher empty
run_launcher 16
signature
rm -f "$work"/samples/*

# Rounds interleave every measurement, so that a slow phase of the machine
# touches all of them alike instead of one figure.
for i in $(seq "$runs"); do
  echo "== round $i of $runs" >&2
  for mib in $sizes; do rawcopy "$mib"; extract "$mib"; done
  run_launcher empty
  for mib in $sizes; do run_launcher "$mib"; done
  signature
  run_launcher $sig
  run_launcher empty-signed
  run_launcher $sig-signed
done

# packfile against cat, on the host: its own paired rounds, a 1 GiB payload.
echo "== packfile build against cat" >&2
RUNS=5 "$here/packfile.sh" "$packfile" "$launcher" "$work/packfile" >"$work/packfile-rows"

# Per-round derived figures. A whole run's extraction is the time until the
# child starts minus the same for the empty package in the same round; a
# launcher that never started the child falls back to whole-run times.
s="$work/samples"
fallback=$(awk '$2 < 0 {print "yes"; exit}' "$s"/run-*)
col=2; [ -n "$fallback" ] && col=1
for mib in $sizes; do
  paste "$s/run-empty" "$s/run-$mib" "$s/raw-$mib" "$s/extract-$mib" | awk -v mib="$mib" -v c="$col" -v s="$s" '{
    run = $(3 + c) - $c; raw = $7; ext = $8
    print mib * 1e6 / raw >> (s "/rawmibps-" mib)
    print mib * 1e6 / ext >> (s "/mibps-" mib)
    print raw / ext >> (s "/ratio-" mib)
    print run / 1000 >> (s "/runms-" mib)
    print (run > 0 ? raw / run : 0) >> (s "/runratio-" mib)
  }'
done
for pkg in empty $sizes; do
  awk -v s="$s" -v p="$pkg" '{
    print $2 / 1000 >> (s "/child-" p); print ($1 - 3e6) / 1000 >> (s "/over-" p); print $3 / 1024 >> (s "/peak-" p)
  }' "$s/run-$pkg"
done
for f in read-$sig sha256-$sig verify-$sig verify-empty; do awk '{print $1 / 1000}' "$s/$f" >"$s/ms-$f"; done
paste "$s/verify-$sig" "$s/sha256-$sig" | awk '{print $1 / $2}' >"$s/verify-per-sha"
paste "$s/run-$sig" "$s/run-$sig-signed" | awk -v c="$col" '{print ($(3 + c) - $c) / 1000}' >"$s/signed-extra"
for pkg in $sig empty-signed $sig-signed; do awk '{print $3 / 1024}' "$s/run-$pkg" >"$s/peak-$pkg"; done
paste "$s/run-16" "$s/run-512" | awk '{print ($6 - $3) / 1024}' >"$s/peakdiff"

# median (min–max) of the numbers in a file, with DECIMALS places.
stat3() {
  sort -g "$1" | awk -v d="$2" '{v[NR] = $1} END {
    f = "%." d "f"; m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf f " (" f "–" f ")", m, v[1], v[NR]
  }'
}
bytes() { stat -c %s "$1"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
mem=$(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)
extraction_note="time until the child starts, minus the same for the empty package"
[ -n "$fallback" ] && extraction_note="whole-run time minus the empty package's (this launcher started no child)"

{
  echo "# Benchmark results"
  echo
  echo "Written by \`make bench\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $mem RAM, Linux $(uname -r), $(/usr/lib/wine/wine64 --version)."
  echo
  echo "Each figure is the median of $runs runs, with the minimum and maximum in brackets."
  echo
  echo "| figure | empty package | 16 MiB | 512 MiB | target |"
  echo "|---|---|---|---|---|"
  echo "| raw copy, 64 KiB ReadFile/WriteFile (MiB/s) | – | $(stat3 "$s/rawmibps-16" 0) | $(stat3 "$s/rawmibps-512" 0) | |"
  echo "| extraction, the launcher's CUnPack in-process (MiB/s) | – | $(stat3 "$s/mibps-16" 0) | $(stat3 "$s/mibps-512" 0) | |"
  echo "| **in-process extraction / raw copy** | – | $(stat3 "$s/ratio-16" 2) | $(stat3 "$s/ratio-512" 2) | ≥ 0.8 |"
  echo "| extraction in a whole launcher run (ms) | – | $(stat3 "$s/runms-16" 0) | $(stat3 "$s/runms-512" 0) | |"
  echo "| whole-run extraction / raw copy | – | – | $(stat3 "$s/runratio-512" 2) | ≥ 0.8 |"
  [ -n "$fallback" ] ||
    echo "| start to child running (ms) | $(stat3 "$s/child-empty" 0) | $(stat3 "$s/child-16" 0) | $(stat3 "$s/child-512" 0) | |"
  echo "| full run minus the 3 s poll (ms) | $(stat3 "$s/over-empty" 0) | $(stat3 "$s/over-16" 0) | $(stat3 "$s/over-512" 0) | |"
  echo "| launcher peak working set (KiB) | $(stat3 "$s/peak-empty" 0) | $(stat3 "$s/peak-16" 0) | $(stat3 "$s/peak-512" 0) | |"
  echo "| **peak working set, 512 MiB minus 16 MiB (KiB)** | | | $(stat3 "$s/peakdiff" 0) | < 256 |"
  echo
  echo "The signature check, on a $sig MiB installer (a signed run checks it before extracting):"
  echo
  echo "| figure | $sig MiB |"
  echo "|---|---|"
  echo "| read the signed installer once, 64 KiB ReadFile (ms) | $(stat3 "$s/ms-read-$sig" 0) |"
  echo "| read it and SHA-256 its bytes with the system's bcrypt (ms) | $(stat3 "$s/ms-sha256-$sig" 0) |"
  echo "| **signature check on the open handle, as the launcher makes it (ms)** | $(stat3 "$s/ms-verify-$sig" 0) |"
  echo "| signature check / (read + SHA-256) | $(stat3 "$s/verify-per-sha" 2) |"
  echo "| signature check of the empty signed installer: wintrust's fixed cost (ms) | $(stat3 "$s/ms-verify-empty" 0) |"
  echo "| whole run, signed minus unsigned, to the child starting (ms) | $(stat3 "$s/signed-extra" 0) |"
  echo "| launcher peak working set, unsigned (KiB) | $(stat3 "$s/peak-$sig" 0) |"
  echo "| launcher peak working set, signed (KiB) | $(stat3 "$s/peak-$sig-signed" 0) |"
  echo "| launcher peak working set, the empty package signed (KiB) | $(stat3 "$s/peak-empty-signed" 0) |"
  echo
  echo "Building an unsigned installer on the host, against \`cat\` of the same bytes (medians of 5 paired rounds):"
  echo
  echo "| figure | 1 GiB | target |"
  echo "|---|---|---|"
  cat "$work/packfile-rows"
  echo
  echo "| file | bytes |"
  echo "|---|---|"
  echo "| UnPackFile.exe, i686 (shipped) | $(bytes "$win32/launcher/UnPackFile.exe") |"
  echo "| UnPackFile.exe, x86_64 | $(bytes "$launcher") |"
  echo "| packfile (host) | $(bytes "$packfile") |"
  echo
  cat <<EOF
## How it is measured

- Everything runs in one wine64 session, on the 64-bit build. The packages,
  built by packfile with \`--no-run-bat\`, hold one file of pseudo-random
  bytes (16 MiB, 512 MiB) or nothing.
- Raw copy: \`bench_runner rawcopy\` copies the same payload file into the
  same Temp folder the launcher extracts to, opening and closing both files
  inside the timing, as an extraction does.
- In-process extraction: \`bench_runner extract\` links the launcher's own
  extractor library (the object code of the 64-bit \`UnPackFile.exe\`) and
  times \`CUnPack::UnPackFiles\` on the installer, which also locates the
  package. It is the steadier figure: it leaves out two process starts whose
  jitter under Wine is as large as a 16 MiB extraction.
- Whole launcher run: \`bench_runner run\` starts the installer in program
  form with an instant child (\`bench_runner stamp\`) that writes the
  performance counter when it starts. Measured in the same round, the
  extraction is the $extraction_note;
  the process starts cancel out on average. At 16 MiB the difference is
  within their jitter, so no ratio is given there.
- Ratios are taken per round, from measurements made next to each other.
- Files are read from the page cache (they were just written) and nothing is
  flushed: this compares the launcher with a plain copy, not disk speeds.
- Full run: from CreateProcess to the launcher's exit, less the 3,000 ms the
  launcher waits before it first looks at the child; what is left is Wine's
  process start, extraction, starting the child and deleting the files.
- Signature check: \`bench_runner verify\` opens the signed installer as
  the launcher holds its image and times the launcher's own
  \`VerifyImageSignature\` on that handle, in a fresh process, so that
  loading wintrust is counted; the empty signed installer shows that fixed
  cost, which unsigned runs never pay because wintrust is loaded only for a
  signed image. \`read\` and \`sha256\` read the same file once, the
  latter hashing it with bcrypt: the least any digest check costs here. The
  whole-run figure compares the signed and the unsigned $sig MiB installer
  in the same round.
- packfile against cat (\`bench/packfile.sh\`): \`cat\` of the launcher and
  a 1 GiB payload of pseudo-random bytes into one file, then \`packfile
  build --no-run-bat\` of the same into an unsigned installer, in the same
  folder, each after a \`sync\`, five rounds; the ratio is taken per round.
  Both read the payload from the page cache. packfile reads and writes each
  byte once and sums the PE CheckSum as it writes (the field patched in place
  at the end); \`cat\` copies inside the kernel where it can
  (\`copy_file_range\`), so the same bytes piped through \`dd bs=128k\` are
  shown too: what a copy through user space costs.
- Peak working set: GetProcessMemoryInfo, sampled every 10 ms while the
  launcher runs. Under Wine it is the peak resident size of the whole
  process, Wine's own libraries included, so the difference between the
  package sizes is the telling figure.
EOF
} >"$results"

cat "$results"
