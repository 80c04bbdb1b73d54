#!/bin/sh
# The Debian packages from scripts/package, installed for real and removed
# again: lintian finds no errors in them (its warnings are printed); apt
# installs all three; the C examples build against them through find_package
# and pkg-config and run; tolvane --version and man tolvane
# work; removing them leaves none of their files. Needs root (it changes the
# system), so it is run by scripts/test, not by ctest.
#
# usage: tests/install/deb_round_trip.sh
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the package round trip installs packages and needs root"
    exit 0
fi
work=$root/build/deb-round-trip
rm -rf "$work"
mkdir -p "$work"
packages="libtolvanewavtimestretch1 libtolvanewavtimestretch-dev tolvane"
apt_get() {  # waits for another apt or dpkg run rather than failing
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"
}
remove_packages() { apt_get purge $packages >/dev/null 2>&1 || true; }

debs=$("$root/scripts/package")
# shellcheck disable=SC2086
lintian --tag-display-limit 0 $debs >"$work/lintian" 2>&1 || true
grep -v '^running with root' "$work/lintian" || true
if grep -q '^E:' "$work/lintian"; then
    echo "FAIL: lintian reports errors"
    exit 1
fi

trap remove_packages EXIT
remove_packages
# shellcheck disable=SC2086
apt_get install $debs >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }
expected="tolvane $(sed -n 's/^project(TolvaneWAVTimeStretch VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ "$(tolvane --version)" = "$expected" ] || { echo "FAIL: tolvane --version: $(tolvane --version)"; exit 1; }
MANPAGER=cat MANWIDTH=80 man tolvane >"$work/man.txt"
grep -q 'tolvane record OUT.wav' "$work/man.txt" || { echo "FAIL: man tolvane"; exit 1; }

# The C examples, against the system's copies only.
source=$root/examples/c
run_example=$root/tests/install/run_example.sh
cmake -S "$source" -B "$work/cmake-examples" >/dev/null
cmake --build "$work/cmake-examples" >/dev/null
"$run_example" "$work/cmake-stretch" tolvane --converts -- "$work/cmake-examples/stretch"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/pc-stretch" "$source/stretch.c" \
    $(pkg-config --cflags --libs TolvaneWAVTimeStretch)
"$run_example" "$work/pc-run" tolvane --converts -- "$work/pc-stretch"

files=$(dpkg -L $packages | sort -u)
trap - EXIT
apt_get purge $packages >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; echo "FAIL: apt-get purge"; exit 1; }
for file in $files; do
    [ -d "$file" ] && continue  # shared directories such as /usr/bin stay
    if [ -e "$file" ] || [ -L "$file" ]; then echo "FAIL: left behind: $file"; exit 1; fi
done
echo "PASS: packages installed, used and removed: $(echo $debs | xargs -n1 basename | tr '\n' ' ')"
