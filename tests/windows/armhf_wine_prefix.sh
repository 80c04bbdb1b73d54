#!/usr/bin/env bash
# Makes the prefix of the armhf Wine that runs the ARMv7 DLL (Debian 12's
# armhf Wine on Debian 13's qemu-arm, both unpacked by scripts/packages.sh),
# once per machine: under the emulator wineboot takes minutes (302 s on a
# quiet machine). The prefix is kept outside the build trees, named after the
# Wine and qemu versions, and reused by every later run; only a prefix that
# was finished counts (PREFIX/.made says how long it took). One run at a
# time: scripts/test starts one in the background while its other phases
# run, and the Windows tests wait for it.
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
    # The Wine processes do not hold the lock (9>&-): a server that outlived
    # the run would keep the next one waiting.
    for try in 1 2; do
        rm -rf "$prefix"
        start=$SECONDS
        echo "making $prefix (try $try)"
        timeout 1500 "$TOLVANE_WINE_ARMHF_ROOT/wine" wineboot -i 9>&-
        status=$?
        booted=$((SECONDS - start))
        if [ $status -ne 0 ]; then
            "$server" -k 9>&- 2>/dev/null
            echo "wineboot -i ended with status $status after $booted s (try $try)"
            continue
        fi
        # The prefix is whole once wineboot -i has returned, and on disk once
        # the server has ended, writing out the registry. Under qemu-arm the
        # setup process that wineboot leaves behind, rundll32 registering
        # DLLs, does not end: in DirectShow's registration (quartz, devenum,
        # which nothing here uses) it loops in the emulator, with nothing
        # more to change. It is ended, and the server with it.
        if ! timeout 120 "$server" -w 9>&-; then
            echo "a setup process was still running 120 s after wineboot -i returned: ended"
            "$server" -k 9>&-
            timeout 60 "$server" -w 9>&-
        fi
        if [ -f "$prefix/system.reg" ]; then
            echo "$((SECONDS - start)) s, $(date -u +%F)" >"$made"
            echo "made $prefix in $((SECONDS - start)) s (wineboot -i $booted s)"
            break
        fi
        echo "wineboot -i left no registry in $prefix (try $try)"
    done
    [ -f "$made" ] || { rm -rf "$prefix"; exit 1; }
fi
echo "$prefix"
