#!/usr/bin/env bash
# What recording costs a battery: `tolvane record` against `arecord`, both
# reading the clock-paced test capture device (tests/capture_device) in 50 ms
# periods, with a ring of 250 ms (a board's) and of 1 s.
#
# For each ring it runs the programs in turn, ABAB, PAIRS times (default 5),
# each recording 66 s, measured over the 60 s after 5 s of start-up: the
# voluntary context switches (each one a sleep, so a wake-up) and the CPU
# time (the first field of schedstat, in nanoseconds: ticks are too coarse),
# both summed over all the process's threads (/proc/PID/task/*). Each pair
# gives a ratio to arecord; the medians of the ratios are printed, with the
# medians per second of each program. Then, in a separate run of each, strace
# -c counts every system call and the syncs (fsync, fdatasync) over 20 s
# after start-up, per second of sound.
#
# With BEFORE_BUILD, a second release build (of an older commit, say), its
# `tolvane record` takes part too, in every round (ABCABC), so that before and
# after are measured in one run on the same machine. The load average is
# printed with each run: the machine may be shared. Run as root, the programs
# measured run at nice -10, the same for all: on a busy machine a reader that
# is kept waiting finds more than one period ready and sleeps less often,
# which would flatter arecord's figures with other processes' load.
#
# usage: bench/record_energy.sh [BUILD_DIR] [PAIRS] [BEFORE_BUILD]
#   BUILD_DIR     a release build tree (default build/release)
#   PAIRS         rounds per ring (default 5)
#   BEFORE_BUILD  another release build tree to compare (optional)
# Needs python3, arecord (alsa-utils) and strace (Debian packages).
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$here/build/release}")
pairs=${2:-5}
before=${3:+$(realpath "$3")}
settle=${TOLVANE_BENCH_SETTLE:-5}
window=${TOLVANE_BENCH_WINDOW:-60}
traced=${TOLVANE_BENCH_TRACED:-20}
module=$build/tests/capture_device/libasound_module_pcm_tolvane_test_capture.so
for tool in arecord strace python3; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; exit 1; }
done
[ -x "$build/cli/tolvane" ] && [ -f "$module" ] || { echo "build the release preset first ($build)" >&2; exit 1; }
[ -z "$before" ] || [ -x "$before/cli/tolvane" ] || { echo "no $before/cli/tolvane" >&2; exit 1; }
# /dev/shm: the file system's own costs stay out of the figures (its syncs
# return at once), while the calls are still made and counted.
work=$(mktemp -d /dev/shm/tolvane-energy.XXXXXX)
trap 'rm -rf "$work"' EXIT
export TOLVANE_BENCH_ERRORS=$work/errors.txt

boost=()
[ "$(id -u)" -ne 0 ] || boost=(nice -n -10)
programs=(after arecord)
[ -z "$before" ] || programs+=(before)
command_of() {  # NAME FILE SECONDS
  case $1 in
    after) echo "${boost[*]} $build/cli/tolvane record $2 --seconds $3" ;;
    before) echo "${boost[*]} $before/cli/tolvane record $2 --seconds $3" ;;
    arecord) echo "${boost[*]} arecord -q -D default -f S16_LE -r 8000 -c 1 -t wav -d $3 $2" ;;
  esac
}

# Runs one program for settle + window + 1 s and prints its voluntary
# switches and CPU seconds per second over the window, and the load average.
measure() {
  python3 - "$settle" "$window" "$@" <<'PY'
import os, subprocess, sys, time
settle, window, argv = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
def sample(pid):
    switches = cpu = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            cpu += int(open("/proc/%d/task/%s/schedstat" % (pid, tid)).read().split()[0])
            for line in open("/proc/%d/task/%s/status" % (pid, tid)):
                if line.startswith("voluntary_ctxt_switches:"):
                    switches += int(line.split()[1])
        except (OSError, ValueError):
            pass  # a thread that ended meanwhile
    return time.monotonic(), switches, cpu
# Standard error to a file: on a terminal `tolvane record` would show its
# status line, ten looks a second, which is not what a battery runs.
errors = open(os.environ["TOLVANE_BENCH_ERRORS"], "w+")
child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=errors)
time.sleep(settle)
t1, s1, c1 = sample(child.pid)
time.sleep(window)
t2, s2, c2 = sample(child.pid)
if child.wait() != 0:
    errors.seek(0)
    sys.exit("%s failed: %s" % (argv[0], errors.read().strip()))
print("%.2f %.6f %.2f" % ((s2 - s1) / (t2 - t1), (c2 - c1) / 1e9 / (t2 - t1), os.getloadavg()[0]))
PY
}

# Runs one program under strace for `traced` seconds after start-up and
# prints its system calls and syncs per second of sound.
trace() {
  local name=$1
  # shellcheck disable=SC2046
  $(command_of "$name" "$work/traced.wav" $((settle + traced + 2))) >/dev/null 2>"$work/traced.err" &
  local pid=$! tids=()
  sleep "$settle"
  for t in /proc/$pid/task/*; do tids+=(-p "${t##*/}"); done
  strace -c -f -o "$work/strace.txt" "${tids[@]}" 2>/dev/null &
  local tracer=$!
  sleep "$traced"
  kill -INT "$tracer"
  wait "$tracer" || true
  wait "$pid"
  awk -v n="$traced" '$NF == "total" { total = $4 } $NF == "fsync" || $NF == "fdatasync" { syncs += $4 }
    END { printf "%.2f %.2f\n", total / n, syncs / n }' "$work/strace.txt"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { awk -v c="$2" '{ print $c }' "$work/$1"; }
ratios() {  # A B COLUMN: the per-round ratios of A to B
  paste "$work/$1" "$work/$2" | awk -v c="$3" -v w=3 '{ printf "%.4f\n", $(c) / $(c + w) }'
}

echo "machine: $(nproc) cores; load average at start: $(cut -d' ' -f1-3 /proc/loadavg); measured at: ${boost[*]:-the default priority}"
table=()
for ring in 250 1000; do
  "$here/tests/capture_device/device_home.sh" "$work/home" "$module" "$ring" 50
  export HOME=$work/home
  for name in "${programs[@]}"; do : >"$work/$name.$ring"; done
  for ((round = 1; round <= pairs; round++)); do
    for name in "${programs[@]}"; do
      # A run that fails (arecord has seen a read fail on a machine loaded
      # past its cores) is made once more, saying so.
      # shellcheck disable=SC2046
      figures=$(measure $(command_of "$name" "$work/$name.wav" $((settle + window + 1)))) ||
        { echo "ring $ring ms, round $round, $name failed: once more"; figures=$(measure $(command_of "$name" "$work/$name.wav" $((settle + window + 1)))); }
      echo "$figures" >>"$work/$name.$ring"
      echo "ring $ring ms, round $round, $name: $figures (wake-ups/s, CPU s/s, load)"
    done
  done
  for name in "${programs[@]}"; do
    read -r calls syncs < <(trace "$name")
    echo "ring $ring ms, strace of $name: $calls calls/s, $syncs syncs/s"
    echo "$calls $syncs" >"$work/$name.$ring.strace"
  done
  for name in "${programs[@]}"; do
    [ "$name" = arecord ] && continue
    table+=("$(printf '| %s ms | %s | %s / %s = %.2fx | %s / %s = %.2fx | %s | %s | %s |' "$ring" "$name" \
      "$(col "$name.$ring" 1 | median)" "$(col "arecord.$ring" 1 | median)" "$(ratios "$name.$ring" "arecord.$ring" 1 | median)" \
      "$(col "$name.$ring" 2 | median)" "$(col "arecord.$ring" 2 | median)" "$(ratios "$name.$ring" "arecord.$ring" 2 | median)" \
      "$(cut -d' ' -f2 "$work/$name.$ring.strace")" "$(cut -d' ' -f1 "$work/$name.$ring.strace")" \
      "$(cut -d' ' -f1 "$work/arecord.$ring.strace")")")
  done
  echo "ring $ring ms: median load average $(col "after.$ring" 3 | median)"
done
echo
echo "medians over $pairs rounds of ${window} s (after ${settle} s of start-up); ratios are medians of the per-round ratios"
echo "| ring | tolvane record | wake-ups/s (tolvane / arecord) | CPU s/s (tolvane / arecord) | syncs/s | syscalls/s | arecord syscalls/s |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${table[@]}"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
