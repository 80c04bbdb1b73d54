#!/bin/sh
# Runs one of the programs in examples/ the way its comment tells a user to,
# in a fresh directory holding the speech-8000.wav it converts, with Enter
# pressed after three seconds, and checks what it leaves there.
#
#   run_example.sh WORK_DIR TOLVANE [--converts] [--records CAPTURE_MODULE] -- COMMAND...
#
# --converts: speech-1600.wav must be the bytes that `TOLVANE stretch` makes
# of the same input, and the library's success line printed.
# --records: the program records from the test capture device (made ALSA's
# "default" through a HOME of its own); take.wav must hold exactly the whole
# seconds that the program reports, at least one, and its header say so.
# TOLVANE_EMULATOR (command words) runs TOLVANE, as it does a cross-built one.
set -eu
usage() { echo "usage: run_example.sh WORK_DIR TOLVANE [--converts] [--records MODULE] -- COMMAND..." >&2; exit 2; }
[ $# -ge 2 ] || usage
work=$1 tolvane=$2
shift 2
converts=0 module=
while [ $# -gt 0 ]; do
    case $1 in
        --converts) converts=1 ;;
        --records) [ $# -ge 2 ] || usage; module=$2; shift ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; sed 's/^/  program: /' "$work/stdout" 2>/dev/null || true; exit 1; }

rm -rf "$work"
mkdir -p "$work/run"
# 2.5 s of noise behind a canonical header: whole blocks and a short last one.
{
    printf 'RIFF\144\234\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\200\076\000\000\002\000\020\000'
    printf 'data\100\234\000\000'
    head -c 40000 /dev/urandom
} >"$work/run/speech-8000.wav"
if [ -n "$module" ]; then
    "$here/../capture_device/device_home.sh" "$work/home" "$module"
    HOME=$work/home
    export HOME
fi

status=0
(cd "$work/run" && { sleep 3; echo; } | "$@") >"$work/stdout" 2>&1 || status=$?
[ $status -eq 0 ] || fail "$* exited with status $status"

if [ $converts -eq 1 ]; then
    # shellcheck disable=SC2086
    ${TOLVANE_EMULATOR:-} "$tolvane" stretch "$work/run/speech-8000.wav" "$work/expected.wav" >/dev/null
    grep -qx 'Time stretch effect applied and saved to output.wav' "$work/stdout" || fail "no success line"
    cmp -s "$work/run/speech-1600.wav" "$work/expected.wav" || fail "speech-1600.wav is not what tolvane stretch makes"
fi
if [ -n "$module" ]; then
    seconds=$(sed -n 's/^take\.wav holds \([0-9][0-9]*\) s$/\1/p' "$work/stdout")
    [ -n "$seconds" ] || fail "no line 'take.wav holds N s'"
    [ "$seconds" -ge 1 ] || fail "recorded $seconds seconds in three"
    size=$(wc -c <"$work/run/take.wav")
    declared=$(od -An -tu4 -j40 -N4 "$work/run/take.wav" | tr -d ' ')
    if [ "$size" -ne $((44 + seconds * 16000)) ] || [ "$declared" -ne $((seconds * 16000)) ]; then
        fail "take.wav: $size bytes, header $declared data bytes, for $seconds seconds"
    fi
fi
echo "PASS: $*${seconds:+ ($seconds s recorded)}"
