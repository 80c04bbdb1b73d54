#!/bin/sh
# Times `tolvane record` from the PulseAudio ramp source: the host's CPU time
# per second of audio for a SECONDS-long recording (default 20), and that of
# `arecord` recording the same source for as long, as a yardstick; then, over
# ROUNDS recordings (default 5) ended with SIGTERM part way through a second,
# the time from the signal to the host's exit.
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

report() {  # report WHAT: CPU time per second of audio from $dir/time
    read -r user system elapsed <"$dir/time"
    echo "$1: user ${user} s, system ${system} s, elapsed ${elapsed} s"
    awk -v w="$1" -v u="$user" -v s="$system" -v n="$seconds" \
        'BEGIN { printf "%s: CPU per second of audio: %.3f ms (%.3f%% of one core)\n", w, (u + s) * 1000 / n, (u + s) * 100 / n }'
}

HOME=$dir/home timed "$tolvane" record "$dir/take.wav" --seconds "$seconds"
report "tolvane record"
if command -v arecord >/dev/null 2>&1; then
    # The same source through the same ALSA "default" PCM, one reader at a
    # time (two would split the ramp).
    HOME=$dir/home timed arecord -q -D default -f S16_LE -r 8000 -c 1 -t wav -d "$seconds" "$dir/arecord.wav"
    report "arecord"
else
    echo "arecord is not installed (alsa-utils): no yardstick" >&2
fi

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
    i=$((i + 1))
done
