#!/usr/bin/env bash
# Makes the prefix of the armhf Wine that runs the ARMv7 DLL (Debian 12's
# armhf Wine on Debian 13's qemu-arm, both unpacked by scripts/packages.sh),
# once per machine: under the emulator wineboot takes minutes (302 s on a
# quiet machine). The prefix is kept outside the build trees, named after the
# Wine and qemu versions, and reused by every later run; only a prefix that
# was finished counts. One run at a time: scripts/test starts one in the
# background while its other phases run, and the Windows tests wait for it.
#
# usage: tests/windows/armhf_wine_prefix.sh
# Prints the prefix's path last; exits 1 if it could not be made.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/packages.sh
. "$root/scripts/packages.sh"

mkdir -p "$TOLVANE_WINE_ARMHF_PREFIXES" || exit 1
exec 9>"$TOLVANE_WINE_ARMHF_PREFIXES/.lock" && flock 9 || exit 1
qemu=$TOLVANE_QEMU_TRIXIE_ROOT/usr/bin/qemu-arm
tolvane_unpack_qemu_trixie "$TOLVANE_QEMU_TRIXIE_ROOT" &&
    tolvane_unpack_wine_armhf "$TOLVANE_WINE_ARMHF_ROOT" "$qemu" || exit 1
prefix=$(tolvane_wine_armhf_prefix "$TOLVANE_WINE_ARMHF_ROOT" "$qemu")
made=$prefix/.made
if [ ! -f "$made" ]; then
    export WINEPREFIX=$prefix WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko install prompts
    unset DISPLAY
    server=$TOLVANE_WINE_ARMHF_ROOT/usr/lib/wine/wineserver
    # The Wine processes do not hold the lock: a server that outlived the run
    # would keep the next one waiting.
    for try in 1 2; do
        rm -rf "$prefix"
        start=$SECONDS
        echo "making $prefix (try $try)"
        if timeout 1500 "$TOLVANE_WINE_ARMHF_ROOT/wine" wineboot -i 9>&- && timeout 120 "$server" -w 9>&-; then
            touch "$made"
            echo "made $prefix in $((SECONDS - start)) s"
            break
        fi
        "$server" -k 9>&- 2>/dev/null
        echo "wineboot did not finish within $((SECONDS - start)) s (try $try)"
    done
    [ -f "$made" ] || { rm -rf "$prefix"; exit 1; }
fi
echo "$prefix"
