#!/bin/sh
# A PulseAudio daemon whose default source is a pipe fed with a 16-bit ramp,
# for tests that record through ALSA's "default" PCM.
#
#   pulse_source.sh start DIR RAMP_WRITER...  start daemon and writer under DIR
#   pulse_source.sh stop DIR                  stop both (by their recorded PIDs)
#
# RAMP_WRITER may be several words: a cross-built writer runs through its
# emulator (the daemon is always the build machine's own).
#
# After start, a process run with HOME=DIR/home records the ramp from ALSA's
# "default" capture PCM (DIR/home/.asoundrc routes it to this daemon).
# Without a pulseaudio binary start does nothing and succeeds (the tests
# skip themselves then); it fails if the daemon or writer does not come up.
set -eu

cmd=${1:?usage: pulse_source.sh start DIR RAMP_WRITER... | stop DIR}
dir=$(realpath -m "${2:?missing DIR}")

alive() {  # alive PID: running, not merely waiting to be reaped
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
    case $state in Z*) return 1 ;; esac
}

stop_pid() {  # stop_pid FILE: end the process recorded in FILE, if any
    [ -f "$1" ] || return 0
    pid=$(cat "$1")
    rm -f "$1"
    kill "$pid" 2>/dev/null || return 0
    i=0
    while alive "$pid" && [ $i -lt 50 ]; do sleep 0.05; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null || true
}

case $cmd in
stop)
    stop_pid "$dir/writer.pid"
    stop_pid "$dir/pulseaudio.pid"
    ;;
start)
    [ $# -ge 3 ] || { echo "missing RAMP_WRITER" >&2; exit 2; }
    shift 2
    command -v pulseaudio >/dev/null 2>&1 || { echo "pulseaudio not installed: nothing started" >&2; exit 0; }
    "$0" stop "$dir"
    rm -rf "$dir"
    mkdir -p "$dir/home" "$dir/runtime" "$dir/pahome"
    chmod 700 "$dir/runtime"
    cat >"$dir/pa.conf" <<CONF
.fail
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-pipe-source source_name=ramp file=$dir/ramp.fifo format=s16le rate=8000 channels=1
set-default-source ramp
CONF
    cat >"$dir/home/.asoundrc" <<CONF
pcm.!default { type pulse server "unix:$dir/native" }
ctl.!default { type pulse server "unix:$dir/native" }
CONF
    HOME=$dir/pahome XDG_RUNTIME_DIR=$dir/runtime \
        pulseaudio -n -F "$dir/pa.conf" --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --disable-shm=yes >"$dir/pulseaudio.log" 2>&1 &
    echo $! >"$dir/pulseaudio.pid"
    i=0
    while [ ! -S "$dir/native" ]; do
        if [ $i -ge 100 ] || ! alive "$(cat "$dir/pulseaudio.pid")"; then
            echo "pulseaudio did not start; see $dir/pulseaudio.log" >&2
            cat "$dir/pulseaudio.log" >&2
            "$0" stop "$dir"
            exit 1
        fi
        sleep 0.1
        i=$((i + 1))
    done
    # The pipe source has made the fifo (and keeps it open both ways).
    "$@" "$dir/ramp.fifo" >"$dir/writer.log" 2>&1 &
    echo $! >"$dir/writer.pid"
    sleep 0.2
    alive "$(cat "$dir/writer.pid")" || {
        echo "ramp writer died; see $dir/writer.log" >&2
        "$0" stop "$dir"
        exit 1
    }
    ;;
*)
    echo "usage: pulse_source.sh start DIR RAMP_WRITER... | stop DIR" >&2
    exit 2
    ;;
esac
