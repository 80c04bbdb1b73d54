#!/bin/sh
# Times `tolvane record`: the host's CPU time and wake-ups per second of audio
# over ROUNDS (default 5) SECONDS-long recordings (default 20), alternating
# with `arecord` recording the same source for as long, as a yardstick
# (medians and their ratios); then, over ROUNDS recordings ended with SIGTERM
# part way through a second, the time from the signal to the host's exit,
# which is mostly SoundRecorderStop.
#
# Wake-ups are context switches, voluntary and involuntary, summed over all
# the threads of the recording process (getrusage of the waited-for child:
# ru_nvcsw + ru_nivcsw), per recorded second.
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

# Runs a command and leaves its user, system and elapsed seconds in
# $dir/time, to the microsecond (time(1) rounds to 10 ms, as much as a
# second of audio costs), then its context switches.
timed() {
    python3 -c 'import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run(sys.argv[2:], check=True)
e = time.monotonic() - t
r = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], "w").write("%.6f %.6f %.6f %d\n" % (r.ru_utime, r.ru_stime, e, r.ru_nvcsw + r.ru_nivcsw))' "$dir/time" "$@"
}

# CPU milliseconds per second of audio, from $dir/time.
cpu_ms() { awk -v n="$seconds" '{ printf "%.3f\n", ($1 + $2) * 1000 / n }' "$dir/time"; }
# Wake-ups per second of audio, from $dir/time.
wakeups() { awk -v n="$seconds" '{ printf "%.1f\n", $4 / n }' "$dir/time"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# CPU rounds alternate the two, so that both see the same load on the machine:
# the same source through the same ALSA "default" PCM, one reader at a time
# (two would split the ramp).
have_arecord=yes
command -v arecord >/dev/null 2>&1 || { have_arecord=no; echo "arecord is not installed (alsa-utils): no yardstick" >&2; }
for f in tolvane.ms arecord.ms tolvane.wake arecord.wake; do : >"$dir/$f"; done
i=1
while [ "$i" -le "$rounds" ]; do
    HOME=$dir/home timed "$tolvane" record "$dir/take.wav" --seconds "$seconds" >/dev/null
    cpu_ms >>"$dir/tolvane.ms"
    wakeups >>"$dir/tolvane.wake"
    if [ "$have_arecord" = yes ]; then
        HOME=$dir/home timed arecord -q -D default -f S16_LE -r 8000 -c 1 -t wav -d "$seconds" "$dir/arecord.wav"
        cpu_ms >>"$dir/arecord.ms"
        wakeups >>"$dir/arecord.wake"
    fi
    echo "round $i: per second of audio: tolvane record $(tail -n 1 "$dir/tolvane.ms") ms CPU," \
        "$(tail -n 1 "$dir/tolvane.wake") wake-ups; arecord $(tail -n 1 "$dir/arecord.ms" 2>/dev/null) ms CPU," \
        "$(tail -n 1 "$dir/arecord.wake" 2>/dev/null) wake-ups"
    i=$((i + 1))
done
t=$(median <"$dir/tolvane.ms")
tw=$(median <"$dir/tolvane.wake")
echo "source: $source"
echo "tolvane record: median per second of audio: CPU ${t} ms ($(awk -v t="$t" 'BEGIN { printf "%.3f", t / 10 }')% of one core), ${tw} wake-ups"
if [ "$have_arecord" = yes ]; then
    a=$(median <"$dir/arecord.ms")
    aw=$(median <"$dir/arecord.wake")
    echo "arecord:        median per second of audio: CPU ${a} ms ($(awk -v a="$a" 'BEGIN { printf "%.3f", a / 10 }')% of one core), ${aw} wake-ups"
    awk -v t="$t" -v a="$a" -v tw="$tw" -v aw="$aw" \
        'BEGIN { printf "tolvane record / arecord: CPU %.2fx, wake-ups %.2fx\n", t / a, tw / aw }'
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
