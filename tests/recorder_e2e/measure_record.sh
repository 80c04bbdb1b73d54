#!/bin/sh
# Times `tolvane record` from the PulseAudio ramp source: the host's CPU time
# per second of audio over ROUNDS (default 5) SECONDS-long recordings (default
# 20), alternating with `arecord` recording the same source for as long, as a
# yardstick (medians and their ratio); then, over ROUNDS recordings ended with
# SIGTERM part way through a second, the time from the signal to the host's
# exit, which is mostly SoundRecorderStop.
#
#   measure_record.sh BUILD_DIR [SECONDS] [ROUNDS]     e.g. build/release 20 5
set -eu
build=$(realpath "${1:?usage: measure_record.sh BUILD_DIR [SECONDS] [ROUNDS]}")
seconds=${2:-20}
rounds=${3:-5}
here=$(dirname "$(realpath "$0")")
tolvane=$build/cli/tolvane
dir=$(mktemp -d /tmp/tolvane-measure-XXXXXX)
trap '"$here/../alsa/pulse_source.sh" stop "$dir"; rm -rf "$dir"' EXIT

command -v pulseaudio >/dev/null 2>&1 || { echo "pulseaudio is not installed" >&2; exit 1; }
"$here/../alsa/pulse_source.sh" start "$dir" "$build/tests/alsa/ramp_writer"

# Runs a command and leaves its user, system and elapsed seconds in
# $dir/time, to the microsecond (time(1) rounds to 10 ms, as much as a
# second of audio costs).
timed() {
    python3 -c 'import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run(sys.argv[2:], check=True)
e = time.monotonic() - t
r = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], "w").write("%.6f %.6f %.6f\n" % (r.ru_utime, r.ru_stime, e))' "$dir/time" "$@"
}

# CPU milliseconds per second of audio, from $dir/time.
cpu_ms() { awk -v n="$seconds" '{ printf "%.3f\n", ($1 + $2) * 1000 / n }' "$dir/time"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# CPU rounds alternate the two, so that both see the same load on the machine:
# the same source through the same ALSA "default" PCM, one reader at a time
# (two would split the ramp).
have_arecord=yes
command -v arecord >/dev/null 2>&1 || { have_arecord=no; echo "arecord is not installed (alsa-utils): no yardstick" >&2; }
: >"$dir/tolvane.ms"
: >"$dir/arecord.ms"
i=1
while [ "$i" -le "$rounds" ]; do
    HOME=$dir/home timed "$tolvane" record "$dir/take.wav" --seconds "$seconds" >/dev/null
    cpu_ms >>"$dir/tolvane.ms"
    if [ "$have_arecord" = yes ]; then
        HOME=$dir/home timed arecord -q -D default -f S16_LE -r 8000 -c 1 -t wav -d "$seconds" "$dir/arecord.wav"
        cpu_ms >>"$dir/arecord.ms"
    fi
    echo "round $i: CPU per second of audio: tolvane record $(tail -n 1 "$dir/tolvane.ms") ms," \
        "arecord $(tail -n 1 "$dir/arecord.ms" 2>/dev/null) ms"
    i=$((i + 1))
done
t=$(median <"$dir/tolvane.ms")
echo "tolvane record: median CPU per second of audio ${t} ms ($(awk -v t="$t" 'BEGIN { printf "%.3f", t / 10 }')% of one core)"
if [ "$have_arecord" = yes ]; then
    a=$(median <"$dir/arecord.ms")
    echo "arecord:        median CPU per second of audio ${a} ms ($(awk -v a="$a" 'BEGIN { printf "%.3f", a / 10 }')% of one core)"
    awk -v t="$t" -v a="$a" 'BEGIN { printf "tolvane record / arecord: %.2fx\n", t / a }'
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
