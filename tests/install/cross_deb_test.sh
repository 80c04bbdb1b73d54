#!/usr/bin/env bash
# The Debian packages for ARM boards (scripts/package linux-arm64 and
# linux-armhf), checked without installing them: lintian finds no errors (its
# warnings are printed); each package names the target's architecture, and the
# dependencies on system libraries are the target's, found by dpkg-shlibdeps;
# unpacked with dpkg-deb -x, the packaged tolvane runs under qemu-user against
# the packaged library, prints its version and converts a batch of inputs
# into the same bytes as the build machine's own tolvane; the C example
# that converts builds against the development package with the target's
# compiler and runs. Run by scripts/test.
#
# usage: tests/install/cross_deb_test.sh [linux-arm64|linux-armhf]...
#        (both when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/packages.sh
. "$root/scripts/packages.sh"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux-arm64 linux-armhf)
work=$root/build/cross-deb-test
rm -rf "$work"
mkdir -p "$work"
version=$(sed -n 's/^project(TolvaneWAVTimeStretch VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The build machine's tolvane, whose outputs the packaged ones must match.
native=$root/build/release/cli/tolvane
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target tolvane >/dev/null)
python3 "$root/tests/windows/make_cases.py" "$work/cases" >/dev/null
sed "s|^|$work/cases/|; s|\$|.wav|" "$work/cases/cases.txt" >"$work/inputs.txt"
mkdir "$work/native"
"$native" stretch --files-from "$work/inputs.txt" -o "$work/native" >/dev/null 2>&1 || true
[ "$(ls "$work/native" | wc -l)" -gt 5 ] || fail "the native batch converted almost nothing"

for target in "${targets[@]}"; do
    case $target in
        linux-arm64) arch=arm64 triple=aarch64-linux-gnu qemu=qemu-aarch64 ;;
        linux-armhf) arch=armhf triple=arm-linux-gnueabihf qemu=qemu-arm ;;
        *) echo "unknown target $target" >&2; exit 2 ;;
    esac
    target_root=${TOLVANE_CROSS_ROOTS[$arch]}
    mapfile -t debs < <("$root/scripts/package" "$target")
    [ ${#debs[@]} -eq 3 ] || { fail "$arch: scripts/package made ${#debs[@]} packages, not 3"; continue; }

    tree=$work/$arch
    for deb in "${debs[@]}"; do
        name=$(dpkg-deb -f "$deb" Package)
        [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$name: Architecture $(dpkg-deb -f "$deb" Architecture)"
        depends=$(dpkg-deb -f "$deb" Depends)
        echo "$arch: $name: Depends: $depends"
        case $name in
            libtolvanewavtimestretch1) needed="libc6" ;;
            tolvane) needed="libtolvanewavtimestretch1 libc6 libstdc++6" ;;
            *) needed="libtolvanewavtimestretch1" ;;
        esac
        for package in $needed; do
            [[ ", $depends" == *", $package ("* ]] || fail "$arch: $name does not depend on $package"
        done
        if [ "$name" = libtolvanewavtimestretch1 ]; then
            # The C library alone; ALSA is loaded when a recording starts.
            [ "$(echo "$depends" | sed 's/ (.*//')" = libc6 ] || fail "$arch: $name depends on more than libc6"
            [ "$(dpkg-deb -f "$deb" Recommends)" = libasound2 ] || fail "$arch: $name does not recommend libasound2"
        fi
        [[ $depends != *:* ]] || fail "$arch: $name depends on another architecture's package"
        dpkg-deb -x "$deb" "$tree"
    done

    # No RUNPATH in the packaged program: the packaged library is named to the
    # emulated loader; the target's C library comes from its root
    # (scripts/packages.sh).
    run() { "$qemu" -L "$target_root" -E "LD_LIBRARY_PATH=$tree/usr/lib/$triple" "$@"; }
    got=$(run "$tree/usr/bin/tolvane" --version) || true
    [ "$got" = "tolvane $version" ] || fail "$arch: tolvane --version: $got"
    got=$(run "$tree/usr/bin/tolvane" stretch "$work/cases/block_8192.wav" "$work/$arch-single.wav") || true
    [ "$got" = "Time stretch effect applied and saved to output.wav" ] &&
        cmp -s "$work/$arch-single.wav" "$work/native/block_8192.wav" || fail "$arch: tolvane stretch IN OUT"
    mkdir "$work/$arch-out"
    run "$tree/usr/bin/tolvane" stretch --files-from "$work/inputs.txt" -o "$work/$arch-out" >/dev/null 2>&1 || true
    diff -r "$work/native" "$work/$arch-out" >/dev/null || fail "$arch: the batch's outputs differ from the native build's"

    # The development package: header, link and pkg-config file, used by the
    # target's compiler; its own relative paths lead into the unpacked tree.
    # shellcheck disable=SC2046
    "$triple-gcc" -std=c11 -Wall -Werror -o "$work/$arch-stretch" "$root/examples/c/stretch.c" \
        $(PKG_CONFIG_PATH="$tree/usr/lib/$triple/pkgconfig" PKG_CONFIG_LIBDIR=/nonexistent \
          pkg-config --cflags --libs TolvaneWAVTimeStretch) &&
        "$root/tests/install/run_example.sh" "$work/$arch-example" "$native" --converts -- \
            "$qemu" -L "$target_root" -E "LD_LIBRARY_PATH=$tree/usr/lib/$triple" "$work/$arch-stretch" >/dev/null ||
        fail "$arch: the C example against the development package"

    lintian --tag-display-limit 0 "${debs[@]}" >"$work/$arch-lintian" 2>&1 || true
    grep -v '^running with root' "$work/$arch-lintian" | sed "s/^/$arch: lintian: /" || true
    grep -q '^E:' "$work/$arch-lintian" && fail "$arch: lintian reports errors"
done

[ $failed -eq 0 ] || exit 1
echo "PASS: packages for ${targets[*]} built, checked and run under qemu"
