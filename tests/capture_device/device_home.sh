#!/bin/sh
# Makes DIR a home whose .asoundrc routes ALSA's "default" capture PCM to the
# clock-paced ramp device (the tolvane_test_capture module), for a process run
# with HOME=DIR.
#
#   device_home.sh DIR MODULE [RING_MS [PERIOD_MS [SPEED]]]   defaults 250, 50, 1
#
# SPEED 1 is real time; N runs the device N times as fast, 0 as fast as it
# is read, its ring then never overrunning (the device's fast mode).
set -eu
dir=${1:?usage: device_home.sh DIR MODULE [RING_MS [PERIOD_MS [SPEED]]]}
module=$(realpath "${2:?missing MODULE}")
mkdir -p "$dir"
cat >"$dir/.asoundrc" <<CONF
pcm_type.tolvane_test_capture { lib "$module" }
pcm.!default { type tolvane_test_capture ring_ms ${3:-250} period_ms ${4:-50} speed ${5:-1} }
CONF
