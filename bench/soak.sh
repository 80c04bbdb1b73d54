#!/usr/bin/env bash
# A month of recording in minutes: `tolvane record` rotates through DAYS
# simulated days of the test capture device in its fast mode (samples as
# fast as they are read, the ramp unbroken), with --split SPLIT, on tmpfs so
# that it measures the recorder and not the disk. Meanwhile a consumer takes
# each finished file as an uploader would, checks that its ramp goes on
# exactly from the last sample of the file before, and deletes it.
#
# usage: bench/soak.sh DAYS [SPLIT]
#   DAYS   simulated days (a decimal is fine: 0.5)
#   SPLIT  a --split duration (default 15m), or "none" for no --split, when
#          the recording moves to a next file at 134,200 s (under 2 GiB)
# environment:
#   BUILD       a release build tree (default build/release)
#   SOAK_DIR    where to record (default a new folder in /dev/shm)
#   SOAK_SPEED  the device's speed: 0 as fast as read (default), N for N x real time
#   SOAK_RING_MS, SOAK_PERIOD_MS  its ring and period (default 2000 and 500:
#               a ring of four reads, as few wake-ups as the recorder allows)
#   SOAK_NAMES  the output pattern (default soak-%Y%m%dT%H%M%SZ.wav)
#   SOAK_MAX_MIB  the most the files waiting for the consumer may take
#               (default 6144): tmpfs is memory, and the recorder ends, as
#               on a full disk, past it (--keep-free)
#   SOAK_MIN_BOUNDARIES  fail with fewer boundaries checked than this (default 0)
#
# Prints the simulated seconds and files, the samples lost and duplicated,
# the boundaries checked, the recorder's RSS and open descriptors at the
# start and the end (and its peak RSS), the wall time and the speed as a
# multiple of real time. Exits 1 when a sample was lost or duplicated, a file
# was not whole, the files do not add up to the time recorded, or the
# recorder ended with more descriptors open than it started with.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/release}
days=${1:?usage: bench/soak.sh DAYS [SPLIT]}
split=${2:-15m}
tolvane=$build/cli/tolvane
consumer=$build/bench/tolvane_soak_consumer
module=$build/tests/capture_device/libasound_module_pcm_tolvane_test_capture.so
for f in "$tolvane" "$consumer" "$module"; do
    [ -e "$f" ] || { echo "soak: no $f (build the release preset first)" >&2; exit 1; }
done

seconds=$(awk -v d="$days" 'BEGIN { printf "%d", d * 86400 }')
case $split in
    none) split_args=(); split_seconds=0 ;;
    *) split_args=(--split "$split")
       split_seconds=$(awk -v s="$split" 'BEGIN { n = s + 0; u = substr(s, length(n "") + 1);
           print n * (u == "m" ? 60 : u == "h" ? 3600 : u == "d" ? 86400 : 1) }') ;;
esac

work=${SOAK_DIR:-$(mktemp -d /dev/shm/tolvane-soak.XXXXXX)}
mkdir -p "$work/rec"
rm -f "$work/rec/.done" "$work/log.jsonl"
trap 'kill $pid $consumer_pid 2>/dev/null || true; rm -rf "$work/rec" "$work/home"; [ -n "${SOAK_DIR:-}" ] || rm -rf "$work"' EXIT
pid= consumer_pid=
sh "$here/tests/capture_device/device_home.sh" "$work/home" "$module" "${SOAK_RING_MS:-2000}" "${SOAK_PERIOD_MS:-500}" "${SOAK_SPEED:-0}"

# tmpfs is memory: should the consumer fall behind, the recorder stops (as
# with a full disk) before the files waiting take more than SOAK_MAX_MIB.
avail=$(( $(df -Pk "$work" | awk 'NR == 2 { print $4 }') * 1024 ))
max=$(( ${SOAK_MAX_MIB:-6144} * 1048576 ))
[ "$avail" -gt $(( max + 1073741824 )) ] || { echo "soak: under $(( max / 1048576 + 1024 )) MiB free in $work" >&2; exit 1; }
keep_free=$(( avail - max ))

"$consumer" "$work/rec" "$split_seconds" >"$work/consumer.txt" &
consumer_pid=$!

# As fast as it is read, the device never lets the capture thread sleep: at
# the real-time priority it takes where it may, it would hold a processor
# from the recorder's other threads all soak long, which no device at real
# time makes it do. So the recorder runs without one: RLIMIT_RTPRIO 0, and as
# root without CAP_SYS_NICE.
normal=(prlimit --rtprio=0)
[ "$(id -u)" -ne 0 ] || normal+=(setpriv --inh-caps=-sys_nice --bounding-set=-sys_nice)

start_ns=$(date +%s%N)
HOME=$work/home "${normal[@]}" "$tolvane" record "$work/rec/${SOAK_NAMES:-soak-%Y%m%dT%H%M%SZ.wav}" "${split_args[@]}" \
    --seconds "$seconds" --log "$work/log.jsonl" --keep-free "$keep_free" >"$work/recorded.txt" 2>"$work/stderr.txt" &
pid=$!

# The recorder as it stands: its resident memory (now and at its peak) and
# its open descriptors. "At the start" is once its first file is finished
# (or a second in), when every descriptor it keeps is open. A look that
# falls inside a move sees the next file open beside the one being finished,
# and the log open: so the descriptors counted are the fewest of five looks
# at the start and of the last five, which a leak raises and a move does not.
sample() {
    local status
    status=$(cat "/proc/$pid/status" 2>/dev/null) || return 1
    rss=$(awk '/^VmRSS/ { print $2 }' <<<"$status")
    hwm=$(awk '/^VmHWM/ { print $2 }' <<<"$status")
    fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    [ -n "$rss" ]
}
start_rss= start_fds= end_rss= end_fds= peak=
start_looks=() last_looks=()
fewest() { printf '%s\n' "$@" | sort -n | sed -n 1p; }
begun=$(date +%s%N)
while kill -0 "$pid" 2>/dev/null; do
    if sample; then
        if [ -z "$start_rss" ] && { [ -s "$work/log.jsonl" ] || [ $(( $(date +%s%N) - begun )) -gt 1000000000 ]; }; then
            start_rss=$rss
        fi
        # A zombie has no memory left to show.
        if [ -n "$start_rss" ] && [ "$rss" -gt 0 ] && [ "$fds" -gt 0 ]; then
            [ ${#start_looks[@]} -ge 5 ] || start_looks+=("$fds")
            last_looks=("${last_looks[@]: -4}" "$fds")
            end_rss=$rss peak=$hwm
        fi
    fi
    sleep 0.2
done
[ ${#start_looks[@]} -eq 0 ] || start_fds=$(fewest "${start_looks[@]}")
[ ${#last_looks[@]} -eq 0 ] || end_fds=$(fewest "${last_looks[@]}")
status=0
wait "$pid" || status=$?
end_ns=$(date +%s%N)
touch "$work/rec/.done"
consumer_status=0
wait "$consumer_pid" || consumer_status=$?

wall=$(awk -v a="$start_ns" -v b="$end_ns" 'BEGIN { printf "%.1f", (b - a) / 1e9 }')
logged=$(wc -l <"$work/log.jsonl")
echo "soak: $days simulated days ($seconds s), --split $split, device speed ${SOAK_SPEED:-0} (0: as fast as read)"
echo "recorder exit status: $status"
sed 's/^/consumer: /' "$work/consumer.txt"
echo "log lines: $logged"
echo "recorder RSS: ${start_rss:-?} KiB at the start, ${end_rss:-?} KiB at the end, ${peak:-?} KiB at its peak"
echo "recorder open descriptors: ${start_fds:-?} at the start, ${end_fds:-?} at the end"
echo "wall time: $wall s"
awk -v s="$seconds" -v w="$wall" 'BEGIN { printf "speed: %.0f x real time\n", s / w }'
[ -s "$work/stderr.txt" ] && sed 's/^/recorder stderr: /' "$work/stderr.txt"

got=$(awk '/^seconds:/ { print $2 }' "$work/consumer.txt")
ok=1
[ "$status" -eq 0 ] || { echo "soak: FAIL: the recorder exited with status $status"; ok=0; }
[ "$consumer_status" -eq 0 ] || { echo "soak: FAIL: samples lost or duplicated, or a file not whole"; ok=0; }
[ "$got" = "$seconds" ] || { echo "soak: FAIL: the files hold $got s of the $seconds s recorded"; ok=0; }
[ -n "$start_fds" ] && [ "${end_fds:-0}" -le "$start_fds" ] || { echo "soak: FAIL: descriptors grew"; ok=0; }
boundaries=$(awk '/^boundaries checked:/ { print $3 }' "$work/consumer.txt")
[ "${boundaries:-0}" -ge "${SOAK_MIN_BOUNDARIES:-0}" ] ||
    { echo "soak: FAIL: $boundaries boundaries checked, fewer than $SOAK_MIN_BOUNDARIES"; ok=0; }
[ "$ok" -eq 1 ] && echo "soak: PASS"
[ "$ok" -eq 1 ]
