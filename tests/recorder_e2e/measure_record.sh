#!/bin/sh
# Times `tolvane record`: the host's CPU time and wake-ups per second of audio
# over ROUNDS (default 5) SECONDS-long recordings (default 20), alternating
# with `arecord` recording the same source for as long, as a yardstick
# (medians and their ratios); then, over ROUNDS recordings ended with SIGTERM
# part way through a second, the time from the signal to the host's exit,
# which is mostly SoundRecorderStop.
#
# Wake-ups are context switches, voluntary and involuntary, summed over all
# the threads of the recording process, per recorded second. Each figure is
# given twice: for the whole process (getrusage of the waited-for child,
# starting included), and in brackets while it records, from 2 s after its
# start to 1 s before its end (/proc/PID/task/*/schedstat and status), which
# is what a long recording costs. SECONDS must be at least 4.
#
# The source is the PulseAudio ramp source, or with --device the clock-paced
# test capture device (tests/capture_device: a 250 ms ring in 50 ms periods,
# the only sizes it grants, so both programs read it alike).
#
#   measure_record.sh [--device] BUILD_DIR [SECONDS] [ROUNDS]     e.g. build/release 20 5
set -eu
source=pulse
if [ "${1:-}" = --device ]; then source=device; shift; fi
build=$(realpath "${1:?usage: measure_record.sh [--device] BUILD_DIR [SECONDS] [ROUNDS]}")
seconds=${2:-20}
rounds=${3:-5}
here=$(dirname "$(realpath "$0")")
tolvane=$build/cli/tolvane
dir=$(mktemp -d /tmp/tolvane-measure-XXXXXX)
trap '"$here/../alsa/pulse_source.sh" stop "$dir"; rm -rf "$dir"' EXIT

if [ $source = device ]; then
    "$here/../capture_device/device_home.sh" "$dir/home" \
        "$build/tests/capture_device/libasound_module_pcm_tolvane_test_capture.so" 250 50
else
    command -v pulseaudio >/dev/null 2>&1 || { echo "pulseaudio is not installed" >&2; exit 1; }
    "$here/../alsa/pulse_source.sh" start "$dir" "$build/tests/alsa/ramp_writer"
fi

# Runs a command and leaves in $dir/time, for the whole process: its user,
# system and elapsed seconds, to the microsecond (time(1) rounds to 10 ms, as
# much as a second of audio costs), and its context switches; then, while it
# records, from 2 s after its start to 1 s before its end (leaving out
# starting, which for both programs is mostly reading ALSA's configuration):
# its CPU milliseconds and context switches per second, summed over its
# threads (/proc/PID/task/*/schedstat and status).
timed() {
    python3 -c 'import os, resource, subprocess, sys, time
def sample(pid):
    cpu = switches = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            cpu += int(open("/proc/%d/task/%s/schedstat" % (pid, tid)).read().split()[0])
            for line in open("/proc/%d/task/%s/status" % (pid, tid)):
                if line.endswith("ctxt_switches:", 0, line.index(":") + 1):
                    switches += int(line.split()[1])
        except (OSError, ValueError):
            pass  # a thread that ended meanwhile
    return time.monotonic(), cpu, switches
t = time.monotonic()
child = subprocess.Popen(sys.argv[3:])
time.sleep(2)
t1, cpu1, sw1 = sample(child.pid)
time.sleep(max(0.5, float(sys.argv[2]) - 3))
t2, cpu2, sw2 = sample(child.pid)
if child.wait() != 0:
    sys.exit("%s failed" % sys.argv[3])
e = time.monotonic() - t
r = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], "w").write("%.6f %.6f %.6f %d %.3f %.1f\n" % (r.ru_utime, r.ru_stime, e, r.ru_nvcsw + r.ru_nivcsw,
    (cpu2 - cpu1) / 1e6 / (t2 - t1), (sw2 - sw1) / (t2 - t1)))' "$dir/time" "$seconds" "$@"
}

# Keeps the figures in $dir/time as NAME's: per second of audio, the whole
# process's CPU ms (NAME.cpu) and wake-ups (NAME.wake), and the same while
# recording (NAME.rcpu, NAME.rwake).
keep() {
    awk -v n="$seconds" -v d="$dir/$1" '{
        printf "%.3f\n", ($1 + $2) * 1000 / n >>(d ".cpu"); printf "%.1f\n", $4 / n >>(d ".wake")
        print $5 >>(d ".rcpu"); print $6 >>(d ".rwake") }' "$dir/time"
}
last() { tail -n 1 "$dir/$1" 2>/dev/null; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# CPU rounds alternate the two, so that both see the same load on the machine:
# the same source through the same ALSA "default" PCM, one reader at a time
# (two would split the ramp).
have_arecord=yes
command -v arecord >/dev/null 2>&1 || { have_arecord=no; echo "arecord is not installed (alsa-utils): no yardstick" >&2; }
i=1
while [ "$i" -le "$rounds" ]; do
    HOME=$dir/home timed "$tolvane" record "$dir/take.wav" --seconds "$seconds" >/dev/null
    keep tolvane
    if [ "$have_arecord" = yes ]; then
        HOME=$dir/home timed arecord -q -D default -f S16_LE -r 8000 -c 1 -t wav -d "$seconds" "$dir/arecord.wav"
        keep arecord
    fi
    echo "round $i: per second of audio, whole process (while recording):" \
        "tolvane record $(last tolvane.cpu) ($(last tolvane.rcpu)) ms CPU, $(last tolvane.wake) ($(last tolvane.rwake)) wake-ups;" \
        "arecord $(last arecord.cpu) ($(last arecord.rcpu)) ms CPU, $(last arecord.wake) ($(last arecord.rwake)) wake-ups"
    i=$((i + 1))
done
med() { median <"$dir/$1"; }
ratio() { awk -v a="$(med "tolvane.$1")" -v b="$(med "arecord.$1")" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else printf "-" }'; }
echo "source: $source; medians per second of audio, whole process (while recording):"
echo "  tolvane record: CPU $(med tolvane.cpu) ($(med tolvane.rcpu)) ms, $(med tolvane.wake) ($(med tolvane.rwake)) wake-ups"
if [ "$have_arecord" = yes ]; then
    echo "  arecord:        CPU $(med arecord.cpu) ($(med arecord.rcpu)) ms, $(med arecord.wake) ($(med arecord.rwake)) wake-ups"
    echo "  tolvane record / arecord: CPU $(ratio cpu) ($(ratio rcpu)), wake-ups $(ratio wake) ($(ratio rwake))"
fi

: >"$dir/stop.us"
i=1
while [ "$i" -le "$rounds" ]; do
    HOME=$dir/home "$tolvane" record "$dir/stop.wav" >/dev/null &
    pid=$!
    sleep "2.$((i * 17 % 10))"
    start=$(date +%s%N)
    kill -TERM "$pid"
    wait "$pid"
    end=$(date +%s%N)
    echo "SIGTERM to exit: $(((end - start) / 1000)) us"
    echo $(((end - start) / 1000)) >>"$dir/stop.us"
    i=$((i + 1))
done
echo "SIGTERM to exit: median $(median <"$dir/stop.us") us, most $(sort -n "$dir/stop.us" | tail -n 1) us"
