#!/bin/sh
# Times packfile build of an unsigned installer against cat of the same
# launcher and payload into one file, in the same folder, and prints the
# markdown rows bench/run.sh puts in its table. Each round measures both, one
# right after the other, after a sync, so that a slow phase of the machine
# touches the pair alike; the ratio is taken per round.
# Usage: packfile.sh PACKFILE LAUNCHER WORK_DIR   (MIB=1024, RUNS=5 by default)
set -e
packfile=$(realpath "$1") launcher=$(realpath "$2") work=$(realpath -m "$3")
mib=${MIB:-1024}
runs=${RUNS:-5}
mkdir -p "$work/pkg"
# Pseudo-random bytes, as run.sh makes them: nothing can compress or skip them.
openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv 00000000000000000000000000000000 \
  -in /dev/zero 2>/dev/null | head -c $((mib * 1048576)) >"$work/pkg/payload.bin"

now() { date +%s%N; }
# Milliseconds that the command takes; its output is discarded.
timed() {
  sync
  start=$(now)
  "$@" >/dev/null
  echo $((($(now) - start) / 1000000))
}
concatenate() { cat "$launcher" "$work/pkg/payload.bin" >"$work/cat.out"; }
# The same bytes through user space, as packfile must take them to sum them:
# GNU cat copies inside the kernel (copy_file_range) where it can.
userspace() { cat "$launcher" "$work/pkg/payload.bin" | dd of="$work/cat.out" bs=128k status=none; }
build() { "$packfile" build --launcher "$launcher" --out "$work/setup.exe" --no-run-bat "$work/pkg"; }

# One warm-up pair reads the payload into the page cache for both.
concatenate
build >/dev/null
: >"$work/samples"
for i in $(seq "$runs"); do
  rm -f "$work/cat.out" "$work/setup.exe"
  c=$(timed concatenate)
  rm -f "$work/setup.exe"
  b=$(timed build)
  rm -f "$work/cat.out"
  u=$(timed userspace)
  echo "$c $b $u" >>"$work/samples"
done

# median (min–max) of column COL (or of the per-round ratio of build to cat with COL=ratio).
stat3() {
  awk -v col="$1" -v d="$2" '{print col == "ratio" ? $2 / $1 : $col}' "$work/samples" | sort -g |
    awk -v d="$2" '{v[NR] = $1} END {
      f = "%." d "f"; m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf f " (" f "–" f ")", m, v[1], v[NR]
    }'
}
echo "| cat of the launcher and a $mib MiB payload into one file (ms) | $(stat3 1 0) | |"
echo "| packfile build of the same, unsigned, no --json (ms) | $(stat3 2 0) | |"
echo "| **packfile build / cat** | $(stat3 ratio 2) | ≤ 1.3 |"
echo "| cat through a pipe into dd bs=128k: the same bytes through user space (ms) | $(stat3 3 0) | |"
rm -rf "$work"
