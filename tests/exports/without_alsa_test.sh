#!/bin/sh
# usage: [TOLVANE_TARGET_ROOT=ROOT] without_alsa_test.sh [EMULATOR...] TOLVANE
# (ROOT: a cross-built program's libraries, which are hidden as well)
# The library on a machine without ALSA: in a mount namespace of its own,
# every libasound.so.2 is /dev/null (the loader cannot load it), and there
# the host program, linked against the library, still converts exactly and
# records nothing, leaving the empty WAV that a missing device leaves. Needs
# root for the namespace; prints a SKIP line without it.
set -eu
if [ "${TOLVANE_INSIDE_NAMESPACE:-}" != 1 ]; then
    if ! unshare -m true 2>/dev/null; then
        echo "SKIP: no mount namespace to hide libasound in (needs root and unshare)"
        exit 0
    fi
    TOLVANE_INSIDE_NAMESPACE=1 exec unshare -m "$0" "$@"
fi

hidden=0
target_root=${TOLVANE_TARGET_ROOT:-}
for lib in /usr/lib/*/libasound.so.2 /usr/lib/libasound.so.2 /lib/*/libasound.so.2 \
    ${target_root:+"$target_root"/usr/lib/*/libasound.so.2}; do
    [ -e "$lib" ] || continue
    mount --bind /dev/null "$(readlink -f "$lib")"
    hidden=$((hidden + 1))
done
[ $hidden -gt 0 ] || { echo "FAIL: no libasound.so.2 found to hide"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 10 samples 0..9 at 8000/s: the output holds samples 0 and 5 at 1600/s.
header() {  # RATE DATA_SIZE, both below 65536
    printf 'RIFF'; u32 $(($2 + 36)); printf 'WAVEfmt '; u32 16; u16 1; u16 1; u32 "$1"; u32 $(($1 * 2))
    u16 2; u16 16; printf 'data'; u32 "$2"
}
u16() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8)))"; }
u32() { u16 $(($1 & 65535)); u16 $(($1 >> 16)); }
{ header 8000 20; for v in 0 1 2 3 4 5 6 7 8 9; do u16 $v; done; } >"$work/in.wav"
{ header 1600 4; u16 0; u16 5; } >"$work/expected.wav"
header 8000 0 >"$work/empty.wav"

out=$("$@" stretch "$work/in.wav" "$work/out.wav")
[ "$out" = "Time stretch effect applied and saved to output.wav" ] || { echo "FAIL: stretch printed: $out"; exit 1; }
cmp "$work/out.wav" "$work/expected.wav" || { echo "FAIL: the conversion is not exact"; exit 1; }

status=0
"$@" record "$work/take.wav" --seconds 1 2>"$work/err" || status=$?
[ $status -eq 1 ] && grep -q "no capture device could be opened" "$work/err" ||
    { echo "FAIL: record exited $status: $(cat "$work/err")"; exit 1; }
cmp "$work/take.wav" "$work/empty.wav" || { echo "FAIL: the recording is not an empty WAV"; exit 1; }
echo "PASS: with libasound hidden ($hidden copies), conversion is exact and recording reports no device"
