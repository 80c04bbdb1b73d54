#!/bin/sh
# Records SECONDS (default 10) from the PulseAudio ramp source through the
# audio input and reports the recording process's CPU time per second of
# audio and the Stop/Reset/Close latencies.
#
#   measure_recording.sh BUILD_DIR [SECONDS]     e.g. build/release 10
set -eu
build=$(realpath "${1:?usage: measure_recording.sh BUILD_DIR [SECONDS]}")
seconds=${2:-10}
here=$(dirname "$(realpath "$0")")
dir=$(mktemp -d /tmp/tolvane-measure-XXXXXX)
trap '"$here/pulse_source.sh" stop "$dir"; rm -rf "$dir"' EXIT

command -v pulseaudio >/dev/null 2>&1 || { echo "pulseaudio is not installed" >&2; exit 1; }
"$here/pulse_source.sh" start "$dir" "$build/tests/alsa/ramp_writer"
HOME=$dir/home /usr/bin/time -f '%U %S %e' -o "$dir/time" "$build/tests/alsa/record_seconds" "$seconds"
read -r user system elapsed <"$dir/time"
echo "user ${user} s, system ${system} s, elapsed ${elapsed} s"
awk -v u="$user" -v s="$system" -v n="$seconds" \
    'BEGIN { printf "CPU per second of audio: %.2f ms (%.3f%% of one core)\n", (u + s) * 1000 / n, (u + s) * 100 / n }'
