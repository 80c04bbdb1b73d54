#!/usr/bin/env bash
# Builds the Windows DLL for x64, x86, ARM64 and ARMv7, checks each as a
# binary, and runs each under Wine (64-bit, 32-bit, arm64 Wine on
# qemu-aarch64, and armhf Wine on Debian 13's qemu-arm) against the Linux
# build's outputs: x64 and x86 through the C++ test host and tolvane.exe, the
# x86 one also for its calling convention; ARM64 and ARMv7, which have no
# C++ runtime, through a test host in C.
#
# Debian 12 packages it needs:
#   cmake ninja-build g++ g++-mingw-w64-x86-64 g++-mingw-w64-i686
#   libasound2-dev libgtest-dev  (the Linux reference build, which also builds
#     the recording test's ramp writer)
#   wine wine64 wine32:i386 (after dpkg --add-architecture i386) python3
#     python3-pefile; binutils (as, ld: the probe for 32-bit x86 programs)
#   pulseaudio libasound2-plugins procps  (the recording test's capture source:
#     a PulseAudio daemon, ALSA's pulse plugin, ps for its start/stop script)
#   clang lld llvm mingw-w64-common  (the ARM DLLs)
#   qemu-user g++-aarch64-linux-gnu, and the arm64 root of scripts/packages.sh
#     (the arm64 build of the test capture device, and the arm64 C library
#     and ALSA that Wine and its audio driver load); the arm64 Wine itself is
#     unpacked into build/wine-arm64 (scripts/packages.sh)
#   g++-arm-linux-gnueabihf and the armhf root (the armhf build of the test
#     capture device, and the C library and ALSA of the armhf Wine); that
#     Wine and Debian 13's qemu-arm are unpacked into /opt/tolvane-cross, its
#     prefix made once per machine (tests/windows/armhf_wine_prefix.sh)
# Where the 32-bit Wine cannot be installed, scripts/test passes the reason
# in TOLVANE_WINE32_UNAVAILABLE: the x86 DLL is then checked as a binary only
# and a SKIP line says why.
# Where the kernel runs no 32-bit x86 programs, the x86 DLL is checked as a
# binary only, and a SKIP line says why.
#
# usage: tests/windows/run_windows_tests.sh
# Prints PASS/FAIL/SKIP lines and ends with "N passed, N failed"; exits 1 if
# anything failed.
set -u
shopt -s lastpipe  # tally runs at the end of pipelines and keeps its counts

root=$(cd "$(dirname "$0")/../.." && pwd)
# Wine takes the ANSI code page, and so the narrow names of non-ASCII paths,
# from the locale: a machine with none set (LANG unset means "C", ASCII)
# would fail the non-ANSI cases for want of a locale, not of the DLL.
case $(locale charmap 2>/dev/null) in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
# shellcheck source=../../scripts/packages.sh
. "$root/scripts/packages.sh"
cd "$root"
python=/usr/bin/python3  # Debian's, which has pefile
passed=0
failed=0
skipped=0

# Counts the PASS/FAIL/SKIP lines of a step's output, echoing them.
tally() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line"
        case $line in
            PASS:*) passed=$((passed + 1)) ;;
            FAIL:*) failed=$((failed + 1)) ;;
            SKIP:*) skipped=$((skipped + 1)) ;;
        esac
    done
}

# step NAME COMMAND...: a step that must succeed for the rest to mean anything.
step() {
    local name=$1 log
    shift
    log=$(mktemp)
    if "$@" >"$log" 2>&1; then
        printf 'PASS: %s\n' "$name" | tally
        rm -f "$log"
        return 0
    fi
    tail -n 30 "$log"
    rm -f "$log"
    printf 'FAIL: %s\n' "$name" | tally
    return 1
}

finish() {
    if [ "$skipped" -gt 0 ]; then
        echo "$passed passed, $failed failed, $skipped skipped"
    else
        echo "$passed passed, $failed failed"
    fi
    [ "$failed" -eq 0 ]
    exit $?
}

# --- builds -----------------------------------------------------------------
# build PRESET WHAT: configures and builds one preset as a step.
build() { step "build $1 ($2)" sh -c 'cmake --preset "$1" && cmake --build --preset "$1"' sh "$1"; }
built_x64=0
built_x86=0
built_arm64=0
built_armv7=0
build windows x86_64-w64-mingw32 && built_x64=1
build windows-x86 i686-w64-mingw32 && built_x86=1
build windows-arm64 "aarch64-w64-mingw32, clang" && built_arm64=1
build windows-armv7 "armv7-w64-mingw32, clang" && built_armv7=1
build release "Linux reference" || finish
step "install windows into a prefix" \
    sh -c 'rm -rf build/windows/install && cmake --install build/windows --prefix build/windows/install &&
           test -f build/windows/install/bin/TolvaneWAVTimeStretch.dll &&
           test -f build/windows/install/lib/libTolvaneWAVTimeStretch.dll.a &&
           test -f build/windows/install/include/TolvaneWAVTimeStretch.h'

# --- the DLLs as binaries -------------------------------------------------------
dlls=()
[ $built_x64 = 1 ] && dlls+=(build/windows/src/TolvaneWAVTimeStretch.dll:x64)
[ $built_x86 = 1 ] && dlls+=(build/windows-x86/src/TolvaneWAVTimeStretch.dll:x86)
[ $built_arm64 = 1 ] && dlls+=(build/windows-arm64/src/TolvaneWAVTimeStretch.dll:arm64)
[ $built_armv7 = 1 ] && dlls+=(build/windows-armv7/src/TolvaneWAVTimeStretch.dll:armv7)
if [ ${#dlls[@]} -gt 0 ]; then
    $python tests/windows/check_dll.py "${dlls[@]}" 2>&1 | tally
    for dll in "${dlls[@]}"; do
        echo "INFO: ${dll%:*}: $(stat -c %s "${dll%:*}") bytes"
    done
fi

# --- Wine -----------------------------------------------------------------------
# One prefix for both architectures: a 64-bit one, whose syswow64 holds the
# 32-bit system DLLs.
export WINEPREFIX=$root/build/windows/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko install prompts
unset DISPLAY                                # console programs only

# Each architecture is started by its own loader. Debian's `wine` command
# starts the 32-bit one whenever wine32 is installed (which hands 64-bit
# programs on to wine64), so where the kernel runs no 32-bit x86 programs it
# cannot start anything at all.
wine_loader() {
    case $1 in
        x64) if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else command -v wine64 || echo wine; fi ;;
        x86) if [ -x /usr/lib/wine/wine ]; then echo /usr/lib/wine/wine; else echo wine; fi ;;
        arm64) echo "$root/build/wine-arm64/wine" ;;
        armv7) echo "$TOLVANE_WINE_ARMHF_ROOT/wine" ;;
    esac
}
wine64=$(wine_loader x64)

# The recording test's PulseAudio daemon and ramp writer, stopped however the
# script ends. Outside the work directories, which are wiped at start, so that
# a daemon left by an interrupted run is still found by its PID files and
# stopped.
pulse=$root/build/windows/wine-pulse
ramp_writer=$root/build/release/tests/alsa/ramp_writer
trap '"$root/tests/alsa/pulse_source.sh" stop "$pulse"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Z: is the Unix root in every Wine prefix.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The server of each architecture's Wine: the ARM ones are the scripts that
# start it under the emulator.
wine_server() {
    case $1 in
        arm64) echo "$root/build/wine-arm64/usr/lib/wine/wineserver" ;;
        armv7) echo "$TOLVANE_WINE_ARMHF_ROOT/usr/lib/wine/wineserver" ;;
        *) echo wineserver ;;
    esac
}

# audio_driver ARCH DRIVER: the audio driver of ARCH's prefix ("" for none),
# in force once the server has written it out.
audio_driver() {
    WINEPREFIX=$(arch_prefix "$1") timeout 120 "$(wine_loader "$1")" \
        reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "$2" /f >/dev/null 2>&1 &&
        WINEPREFIX=$(arch_prefix "$1") timeout 60 "$(wine_server "$1")" -w
}
# set_audio_driver DRIVER: that of the prefix x64 and x86 share.
set_audio_driver() {
    [ ${#wine_arches[@]} -gt 0 ] || return 0
    audio_driver x64 "$1"
}

# Which of the built DLLs Wine can run here.
wine_arches=()
[ $built_x64 = 1 ] && wine_arches+=(x64)
if [ $built_x86 = 1 ]; then
    if ! tolvane_kernel_runs_x86; then
        echo "SKIP: x86 DLL under 32-bit Wine: this kernel does not run 32-bit x86 programs (no IA-32 emulation); the x86 DLL is checked as a binary only" | tally
    elif [ ! -x "$(wine_loader x86)" ] && [ -n "${TOLVANE_WINE32_UNAVAILABLE:-}" ]; then
        echo "SKIP: x86 DLL under 32-bit Wine: the 32-bit Wine cannot be installed here ($TOLVANE_WINE32_UNAVAILABLE); the x86 DLL is checked as a binary only" | tally
    elif [ ! -x "$(wine_loader x86)" ]; then
        echo "FAIL: x86 DLL under 32-bit Wine: the 32-bit Wine is not installed (as root: dpkg --add-architecture i386; apt-get update; apt-get install wine32:i386)" | tally
    else
        wine_arches+=(x86)
    fi
fi

# A prefix made while 32-bit Wine could not run (not installed yet) has no
# 32-bit system DLLs in syswow64; it is made again.
if [[ " ${wine_arches[*]} " == *" x86 "* ]] && [ -f "$WINEPREFIX/system.reg" ] &&
    [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
fi
if [ ${#wine_arches[@]} -gt 0 ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Through Debian's own command where 32-bit Wine runs, which sets up both
    # halves; through wine64 where only that can start.
    creator=$wine64
    [[ " ${wine_arches[*]} " == *" x86 "* ]] && creator=wine
    step "create Wine prefix" sh -c '"$1" wineboot -i && wineserver -w' sh "$creator" || wine_arches=()
fi

# The build tree of each architecture, and its test host: in C on ARM64,
# where there is no C++ runtime.
arch_bin() {
    case $1 in
        x64) echo "$root/build/windows" ;;
        x86) echo "$root/build/windows-x86" ;;
        arm64) echo "$root/build/windows-arm64" ;;
        armv7) echo "$root/build/windows-armv7" ;;
    esac
}
arch_host() { case $1 in arm64 | armv7) echo arm_dll_host.exe ;; *) echo dll_host.exe ;; esac; }
# x64 and x86 share one prefix; each ARM Wine has its own, the armhf one
# outside the build tree (armv7_prefix, set once it is made).
arch_prefix() {
    case $1 in
        arm64) echo "$root/build/windows-arm64/wine-prefix" ;;
        armv7) echo "$armv7_prefix" ;;
        *) echo "$WINEPREFIX" ;;
    esac
}

# labelled ARCH: tags the PASS/FAIL/SKIP lines read with the architecture.
labelled() { sed -u -E "s/^(PASS|FAIL|SKIP): /\1: $1: /" | tally; }

# run_host ARCH MODE ARGS...: the test host of ARCH against its own DLL.
run_host() {
    local arch=$1 bin out status
    shift
    bin=$(arch_bin "$arch")
    out=$(host_output "$arch" "$bin" "$@")
    status=$?
    # qemu-user itself now and then dies in a guest with many threads, as
    # Wine's are: one run of the arm64 host in about 130 here ended with
    # "uncaught target signal 11" after every check had passed. Such a run
    # is made once more, saying so, and only the second one counts.
    if [[ $arch == arm* ]] && [ $status -ge 128 ] && printf '%s\n' "$out" | grep -q '^qemu: uncaught target signal'; then
        echo "INFO: $arch: $(arch_host "$arch") $1 was ended by a signal under qemu (status $status): run again"
        out=$(host_output "$arch" "$bin" "$@")
        status=$?
    fi
    printf '%s\n' "$out" | grep -E '^(PASS|FAIL|SKIP):' | labelled "$arch"
    if [ $status -ne 0 ] && ! printf '%s\n' "$out" | grep -q '^FAIL:'; then
        printf '%s\n' "$out" | tail -n 20
        printf 'FAIL: %s: %s %s exited with %s\n' "$arch" "$(arch_host "$arch")" "$1" "$status" | tally
    fi
}
host_output() {
    local arch=$1 bin=$2
    shift 2
    cd "$bin/wine-tests" && WINEPREFIX=$(arch_prefix "$arch") timeout 300 "$(wine_loader "$arch")" \
        "$(winpath "$bin/tests/windows/$(arch_host "$arch")")" "$(winpath "$bin/src/TolvaneWAVTimeStretch.dll")" \
        "$(winpath "$bin/wine-tests")" "$@" 2>&1
}

# wine_tests ARCH: everything but the recording from a device, for the DLL,
# test host and tolvane.exe of one architecture.
wine_tests() {
    local arch=$1 bin work wine specs=() name
    bin=$(arch_bin "$arch")
    work=$bin/wine-tests
    wine=$(wine_loader "$arch")
    rm -rf "$work"
    mkdir -p "$work/cases"
    step "$arch: generate inputs" $python tests/windows/make_cases.py "$work/cases" || return 1

    # Reference outputs and results from the Linux build of the same sources.
    while IFS= read -r name; do
        if build/release/cli/tolvane stretch "$work/cases/$name.wav" "$work/cases/$name.ref.wav" >/dev/null 2>&1; then
            specs+=("$name:999")
        else
            specs+=("$name:1")
        fi
    done <"$work/cases/cases.txt"

    run_host "$arch" exports
    run_host "$arch" convert "${specs[@]}"
    run_host "$arch" faults
    run_host "$arch" recorder-none
    # ARM Windows has no C++ runtime: no tolvane.exe, and the C host has no
    # x86 calling convention to check.
    [[ $arch == arm* ]] && return 0
    # The stack pointer around each call is checked on x86, where a calling
    # convention can be got wrong; x64 has one.
    run_host "$arch" cdecl

    # The host program takes its file names from the wide command line, so
    # names outside the ANSI code page reach the library intact.
    cp "$work/cases/block_4096.wav" "$work/αβ 中.wav"
    step "$arch: tolvane.exe converts between non-ANSI file names" \
        sh -c 'cd "$1" && WINEPATH="$2" "$5" "$3" stretch "αβ 中.wav" "γδ 文.wav" | grep -q "^Time stretch effect applied" &&
               "$4" stretch "αβ 中.wav" linux-reference.wav >/dev/null && cmp "γδ 文.wav" linux-reference.wav' \
        sh "$work" "$(winpath "$bin/src")" "$bin/cli/tolvane.exe" "$root/build/release/cli/tolvane" "$wine"

    # The batch form on worker threads: one failure among the files, the
    # others the same bytes as the Linux build's; names that differ only in
    # case collide.
    mkdir -p "$work/batch/out" "$work/batch/other"
    cp "$work/cases/block_4096.wav" "$work/cases/long_60001.wav" "$work/batch/"
    cp "$work/cases/block_4096.wav" "$work/batch/other/BLOCK_4096.WAV"
    step "$arch: tolvane.exe converts a batch on threads, naming the failed file" \
        sh -c 'cd "$1" || exit 1
               WINEPATH="$2" "$4" "$3" stretch block_4096.wav missing.wav long_60001.wav -o out -j 3 \
                   >stdout.txt 2>stderr.txt
               [ $? -eq 1 ] && grep -q "could not convert missing.wav" stderr.txt &&
                   [ "$(grep -c "^Time stretch effect applied" stdout.txt)" -eq 2 ] &&
                   cmp out/block_4096.wav ../cases/block_4096.ref.wav &&
                   cmp out/long_60001.wav ../cases/long_60001.ref.wav || exit 1
               WINEPATH="$2" "$4" "$3" stretch block_4096.wav other/BLOCK_4096.WAV -o out 2>/dev/null
               [ $? -eq 2 ]' \
        sh "$work/batch" "$(winpath "$bin/src")" "$bin/cli/tolvane.exe" "$wine"
}

set_audio_driver ""  # no audio device at all
for arch in "${wine_arches[@]}"; do
    wine_tests "$arch"
done

# A capture device that delivers a 16-bit ramp in real time, reached through
# Wine's own ALSA driver: ALSA's "default" in a private HOME is the pulse
# plugin, and behind it a PulseAudio daemon whose default source is a pipe fed
# at 8000 samples/s. The pacing matters: an unpaced device (ALSA's file plugin
# over the null PCM) gave Wine's driver 35 seconds in 3.5, its reads failed
# ("requested more frames than pcm buffer") and the buffers came back silent.
# WINEPREFIX is set, so the other HOME does not move the prefix. Both
# architectures record from the one daemon, in turn.
if [ ${#wine_arches[@]} -eq 0 ]; then
    :
elif ! command -v pulseaudio >/dev/null 2>&1; then
    echo "SKIP: recording through Wine's ALSA driver (pulseaudio is not installed)" | tally
elif step "start the PulseAudio ramp source" "$root/tests/alsa/pulse_source.sh" start "$pulse" "$ramp_writer"; then
    set_audio_driver alsa
    for arch in "${wine_arches[@]}"; do
        HOME=$pulse/home run_host "$arch" recorder-ramp
    done
    "$root/tests/alsa/pulse_source.sh" stop "$pulse"
fi
# One FlushFileBuffers of the DLL's held up 3 s must cost no sample. The
# capture device is the clock-paced ramp with a 250 ms ring that overruns as
# hardware does: PulseAudio would hold the sound on its side and hide a
# recorder that stops reading.
device_module=$root/build/release/tests/capture_device/libasound_module_pcm_tolvane_test_capture.so
if [ ${#wine_arches[@]} -eq 0 ]; then
    :
elif [ -f "$device_module" ]; then
    set_audio_driver alsa
    for arch in "${wine_arches[@]}"; do
        # The device is an ALSA module of the native build: only a 64-bit
        # libasound, that of 64-bit Wine, can load it.
        if [ "$arch" != x64 ]; then
            echo "SKIP: $arch: a slow sync (the test capture device is built for x86-64 only)" | tally
            continue
        fi
        device_home=$(arch_bin "$arch")/wine-tests/device-home
        "$root/tests/capture_device/device_home.sh" "$device_home" "$device_module"
        HOME=$device_home run_host "$arch" recorder-slow-sync
    done
else
    echo "SKIP: a slow sync under Wine (the test capture device was not built)" | tally
fi
set_audio_driver ""

# --- ARM64 and ARMv7 under Wine on qemu-user -------------------------------------
# Each in its own prefix, through the C host: the exports, the conversions,
# the faults and no device as above (not tolvane.exe, the x86 calling
# convention or the slow sync, which needs an import table patched), then a
# recording from the clock-paced ramp device built for the Linux of the same
# processor (arm64, armhf), whose 250 ms ring overruns when it is not read in
# time, through the ALSA that Wine's audio driver loads from that
# architecture's root.
# arm_wine_cases ARCH LINUX-PRESET: the above, once ARCH's Wine and prefix
# are there.
arm_wine_cases() {
    local arch=$1 preset=$2 device_home
    step "$arch: no audio driver" audio_driver "$arch" "" || return 1
    wine_tests "$arch"
    if step "$arch: build the test capture device for $preset" \
        sh -c 'cmake --preset "$1" >/dev/null && cmake --build --preset "$1" --target tolvane_test_capture' sh "$preset" &&
        step "$arch: Wine's ALSA driver" audio_driver "$arch" alsa; then
        device_home=$(arch_bin "$arch")/wine-tests/device-home
        "$root/tests/capture_device/device_home.sh" "$device_home" \
            "$root/build/$preset/tests/capture_device/libasound_module_pcm_tolvane_test_capture.so"
        HOME=$device_home run_host "$arch" recorder-ramp
        step "$arch: no audio driver again" audio_driver "$arch" ""
    fi
    WINEPREFIX=$(arch_prefix "$arch") "$(wine_server "$arch")" -k 2>/dev/null
}

# The arm64 Wine: a fresh prefix comes up in about 15 s, but one start in
# about nine hung in wineboot: a start that takes minutes is ended and made
# once more. Only a prefix that was finished counts.
arm64_wine() { WINEPREFIX=$(arch_prefix arm64) "$@"; }
arm64_server=$(wine_server arm64)
arm64_prefix() {
    local try made
    made=$(arch_prefix arm64)/.made-by-tests
    for try in 1 2; do
        [ -f "$made" ] && return 0
        rm -rf "$(arch_prefix arm64)"
        arm64_wine timeout 180 "$(wine_loader arm64)" wineboot -i && arm64_wine timeout 60 "$arm64_server" -w &&
            touch "$made" && return 0
        arm64_wine "$arm64_server" -k 2>/dev/null
        rm -rf "$(arch_prefix arm64)"
        echo "wineboot did not finish (try $try)"
    done
    return 1
}
if [ $built_arm64 = 1 ] &&
    step "arm64: unpack the arm64 Wine into build/wine-arm64" tolvane_unpack_wine_arm64 "$root/build/wine-arm64" &&
    step "arm64: create its Wine prefix" arm64_prefix; then
    arm_wine_cases arm64 linux-arm64
fi

# The armhf Wine on Debian 13's qemu-arm (Debian 12's qemu-arm 7.2 takes
# Wine's fixed, no-replace mappings as hints, and Wine never gets going on
# it). Its prefix takes minutes to make under the emulator: it is made once
# per machine and kept, and scripts/test has it made in the background while
# its earlier phases run, so this waits for that.
armv7_qemu=$TOLVANE_QEMU_TRIXIE_ROOT/usr/bin/qemu-arm
if [ $built_armv7 = 1 ] &&
    step "armv7: the armhf Wine on Debian 13's qemu-arm, and its prefix (made once per machine)" \
        tests/windows/armhf_wine_prefix.sh &&
    armv7_prefix=$(tolvane_wine_armhf_prefix "$TOLVANE_WINE_ARMHF_ROOT" "$armv7_qemu"); then
    echo "INFO: armv7: $("$armv7_qemu" --version | sed -n 1p); prefix $armv7_prefix, made in $(cat "$armv7_prefix/.made")"
    arm_wine_cases armv7 linux-armhf
fi

# --- the Python wheels: each DLL in its wheel, checked as a zip ------------------
for platform in windows windows-x86 windows-arm64; do
    if out=$(scripts/wheel "$platform" 2>"build/wheel-$platform.log"); then
        $python tests/bindings/check_wheel.py "${out##*$'\n'}" | tally
    else
        tail -n 20 "build/wheel-$platform.log"
        echo "FAIL: wheel $platform: scripts/wheel failed" | tally
    fi
done

finish
