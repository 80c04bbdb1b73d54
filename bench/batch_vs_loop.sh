#!/usr/bin/env bash
# Times converting an archive of short recordings: `tolvane stretch` in its
# batch form on one thread and with the default jobs (one per online
# processor), against a shell loop of two-path `tolvane stretch` calls and,
# when sox is installed, a shell loop of `sox IN -r 1600 OUT downsample 5`.
# The four alternate within each round so that all see the same machine; it
# prints the median times, the median per-round ratios and the batch's peak
# memory. Next to each pair of batches it times tolvane starting and exiting
# with the same arguments, which no number of jobs can shorten, so that the
# threads' own gain can be told from the process's fixed cost. Needs python3 and /usr/bin/time (Debian package time); sox is
# optional.
#
# usage: bench/batch_vs_loop.sh [BUILD_DIR] [FILES] [ROUNDS]
#   BUILD_DIR a release build tree (default build/release)
#   FILES     five-second 8000 Hz inputs to make (default 1000)
#   ROUNDS    timed runs of each (default 5)
set -euo pipefail
export LC_ALL=C  # a decimal point in the clock and in awk

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
tolvane=$build/cli/tolvane
files=${2:-1000}
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

[ -x "$tolvane" ] || { echo "no $tolvane (build the release preset first)" >&2; exit 1; }
have_sox=0
command -v sox >/dev/null 2>&1 && have_sox=1

mkdir -p "$work/in" "$work/batch1" "$work/batch" "$work/loop" "$work/sox"
python3 - "$work/in" "$files" <<'PY'
import struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
samples = 5 * 8000
header = (b"RIFF" + struct.pack("<I", 36 + 2 * samples) + b"WAVEfmt " +
          struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) + b"data" + struct.pack("<I", 2 * samples))
ramp = struct.pack("<%dh" % (2 * samples), *[(i % 65536) - 32768 for i in range(2 * samples)])
for n in range(count):
    # A different stretch of the ramp in each file, so that no two are alike.
    start = 2 * (n % samples)
    with open("%s/rec%05d.wav" % (folder, n), "wb") as f:
        f.write(header + ramp[start:start + 2 * samples])
PY

# Listed once, so that no timed run pays for the shell's globbing.
inputs=("$work"/in/*.wav)

# Wall-clock seconds of one run of a command, its output discarded; bash's own
# clock, so that no process start of a clock program is counted.
seconds() {
  local s e
  s=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  e=$EPOCHREALTIME
  awk -v s="$s" -v e="$e" 'BEGIN {printf "%.6f", e - s}'
}
batch_one() { "$tolvane" stretch "${inputs[@]}" -o "$work/batch1" -j 1; }
batch_default() { "$tolvane" stretch "${inputs[@]}" -o "$work/batch"; }
# What neither -j can shorten: starting tolvane with the same argument list,
# loading its libraries, reading the arguments and exiting. The bad job count
# ends it after the arguments are read and before any file is looked at.
start_only() { "$tolvane" stretch "${inputs[@]}" -o "$work/batch" -j 0 || true; }
loop_tolvane() {
  local f
  for f in "${inputs[@]}"; do "$tolvane" stretch "$f" "$work/loop/${f##*/}"; done
}
loop_sox() {
  local f
  for f in "${inputs[@]}"; do sox "$f" -r 1600 "$work/sox/${f##*/}" downsample 5; done
}

# One untimed run of each: warms the page cache and creates every output, so
# that each timed run overwrites files that exist.
batch_one >/dev/null 2>&1
batch_default >/dev/null 2>&1
loop_tolvane >/dev/null
[ $have_sox = 1 ] && loop_sox >/dev/null 2>&1
# The batch must write what the single calls write.
diff -r "$work/batch1" "$work/loop" >/dev/null && diff -r "$work/batch" "$work/loop" >/dev/null ||
  { echo "batch outputs differ from the single calls' outputs" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.6f", a / b}'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
# The batch takes well under a second: each round times it several times, in
# pairs, so that a moment's load from elsewhere does not decide its ratio.
pairs=5
t_one=() t_default=() t_loop=() t_sox=()
r_loop=() r_threads=() r_sox=()
t_start=() r_net=()
for ((i = 0; i < rounds; i++)); do
  round=()
  for ((k = 0; k < pairs; k++)); do
    a=$(seconds batch_one)
    b=$(seconds batch_default)
    f=$(seconds start_only)
    t_one+=("$a") t_default+=("$b") round+=("$b") t_start+=("$f")
    r_threads+=("$(ratio "$a" "$b")")
    r_net+=("$(awk -v a="$a" -v b="$b" -v f="$f" 'BEGIN {printf "%.6f", (a - f) / (b - f)}')")
  done
  b=$(median "${round[@]}")
  c=$(seconds loop_tolvane)
  t_loop+=("$c")
  r_loop+=("$(ratio "$c" "$b")")
  if [ $have_sox = 1 ]; then
    d=$(seconds loop_sox)
    t_sox+=("$d")
    r_sox+=("$(ratio "$d" "$b")")
  fi
done

peak_kib=$(/usr/bin/time -f '%M' "$tolvane" stretch "${inputs[@]}" -o "$work/batch" 2>&1 >/dev/null | tail -n 1)
jobs=$(getconf _NPROCESSORS_ONLN)

printf 'inputs                  %d files of 5 s at 8000 Hz (%d KiB each)\n' "$files" $(((44 + 80000) / 1024))
printf 'rounds                  %d (the batch %d times a round, in pairs)\n' "$rounds" "$pairs"
printf 'batch -j 1              median %.3f s\n' "$(median "${t_one[@]}")"
printf 'batch (default, -j %d)   median %.3f s\n' "$jobs" "$(median "${t_default[@]}")"
printf 'loop of tolvane stretch median %.3f s\n' "$(median "${t_loop[@]}")"
[ $have_sox = 1 ] && printf 'loop of sox             median %.3f s\n' "$(median "${t_sox[@]}")"
printf 'loop / batch            median %.1fx (target >= 20x)\n' "$(median "${r_loop[@]}")"
printf 'batch -j 1 / default    median %.2fx (per pair)\n' "$(median "${r_threads[@]}")"
printf 'start-up and exit       median %.3f s (the same arguments, no file touched)\n' "$(median "${t_start[@]}")"
printf 'batch -j 1 / default    median %.2fx with start-up and exit taken off both\n' "$(median "${r_net[@]}")"
[ $have_sox = 1 ] && printf 'sox loop / batch        median %.1fx\n' "$(median "${r_sox[@]}")"
printf 'peak memory             %d KiB (maximum resident set of the default batch; target < 16384)\n' "$peak_kib"
