#!/bin/sh
# Times `tolvane record` from the PulseAudio ramp source: the host's CPU time
# per second of audio for a SECONDS-long recording (default 20), then, over
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

HOME=$dir/home /usr/bin/time -f '%U %S %e' -o "$dir/time" "$tolvane" record "$dir/take.wav" --seconds "$seconds"
read -r user system elapsed <"$dir/time"
echo "user ${user} s, system ${system} s, elapsed ${elapsed} s"
awk -v u="$user" -v s="$system" -v n="$seconds" \
    'BEGIN { printf "CPU per second of audio: %.2f ms (%.3f%% of one core)\n", (u + s) * 1000 / n, (u + s) * 100 / n }'

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
