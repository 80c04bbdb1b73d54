#!/usr/bin/env bash
# Times `tolvane stretch` against a plain read of the same input
# (`cat IN > /dev/null`) and against the I/O floor (tolvane_io_floor: read
# everything in 256 KiB chunks, write a fifth), alternating them so that all
# see the same machine, and prints the median ratios and the converter's peak
# memory. Needs python3 and /usr/bin/time (Debian package time).
#
# usage: bench/stretch_vs_read.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
#   BUILD_DIR a release build tree (default build/release)
#   SIZE_MIB  input size in MiB (default 512)
#   ROUNDS    timed runs of each (default 7)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
tolvane=$build/cli/tolvane
floor=$build/bench/tolvane_io_floor
size_mib=${2:-512}
rounds=${3:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

for program in "$tolvane" "$floor"; do
  [ -x "$program" ] || { echo "no $program (build the release preset first)" >&2; exit 1; }
done

input=$work/in.wav
output=$work/out.wav
python3 - "$input" "$size_mib" <<'PY'
import struct, sys
path, mib = sys.argv[1], int(sys.argv[2])
data = mib * 1024 * 1024 - 44
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", data + 36) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) +
            b"data" + struct.pack("<I", data))
    # A ramp, one MiB at a time.
    chunk = bytes(i & 0xFF for i in range(1024 * 1024))
    for _ in range(mib):
        f.write(chunk)
    f.truncate(44 + data)
PY

# Wall-clock seconds of one run of a command.
seconds() { local s e; s=$(date +%s%N); "$@" >/dev/null; e=$(date +%s%N); awk -v ns=$((e - s)) 'BEGIN {printf "%.6f", ns / 1e9}'; }

# One untimed run of each to warm the page cache.
cat "$input" >/dev/null
"$tolvane" stretch "$input" "$output" >/dev/null

"$floor" "$input" "$work/floor.out"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.6f", a / b}'; }
read_times=()
floor_times=()
stretch_times=()
ratios=()
floor_ratios=()
for ((i = 0; i < rounds; i++)); do
  r=$(seconds cat "$input")
  f=$(seconds "$floor" "$input" "$work/floor.out")
  s=$(seconds "$tolvane" stretch "$input" "$output")
  read_times+=("$r")
  floor_times+=("$f")
  stretch_times+=("$s")
  ratios+=("$(ratio "$s" "$r")")
  floor_ratios+=("$(ratio "$f" "$r")")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

peak_kib=$(/usr/bin/time -f '%M' "$tolvane" stretch "$input" "$output" 2>&1 >/dev/null | tail -n 1)

printf 'input            %d MiB\n' "$size_mib"
printf 'read (cat)       median %.3f s\n' "$(median "${read_times[@]}")"
printf 'I/O floor        median %.3f s\n' "$(median "${floor_times[@]}")"
printf 'tolvane stretch  median %.3f s\n' "$(median "${stretch_times[@]}")"
printf 'stretch / read   median %.2fx (per-round ratios, %d rounds)\n' "$(median "${ratios[@]}")" "$rounds"
printf 'floor / read     median %.2fx\n' "$(median "${floor_ratios[@]}")"
printf 'peak memory      %d KiB (maximum resident set of tolvane stretch)\n' "$peak_kib"
