#!/bin/sh
# usage: consumer_test.sh BUILD_DIR WORK_DIR EXAMPLES_DIR
# Installs the build into a scratch prefix, builds the C examples against it
# through find_package and through pkg-config, and runs them
# (run_example.sh). A cross-built tree sets CC (its C compiler),
# TOLVANE_TOOLCHAIN_FILE and TOLVANE_EMULATOR (the command words that run its
# programs); TOLVANE_CAPTURE_MODULE, the test capture device, lets the
# recording example record.
set -eu
build=$1 work=$2 source=$3
emulator=${TOLVANE_EMULATOR:-}
run_example=$(cd "$(dirname "$0")" && pwd)/run_example.sh
rm -rf "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tolvane share/man/man1/tolvane.1.gz include/TolvaneWAVTimeStretch.h lib/libTolvaneWAVTimeStretch.so.1 \
         lib/pkgconfig/TolvaneWAVTimeStretch.pc lib/cmake/TolvaneWAVTimeStretch/TolvaneWAVTimeStretchConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
$emulator "$prefix/bin/tolvane" --version
export LD_LIBRARY_PATH="$prefix/lib"

# CMake package.
cmake -S "$source" -B "$work/cmake-examples" -DCMAKE_PREFIX_PATH="$prefix" \
  ${TOLVANE_TOOLCHAIN_FILE:+"-DCMAKE_TOOLCHAIN_FILE=$TOLVANE_TOOLCHAIN_FILE"} >/dev/null
cmake --build "$work/cmake-examples" >/dev/null
# shellcheck disable=SC2086
"$run_example" "$work/cmake-stretch" "$prefix/bin/tolvane" --converts -- $emulator "$work/cmake-examples/stretch"
if [ -n "${TOLVANE_CAPTURE_MODULE:-}" ]; then
  # shellcheck disable=SC2086
  "$run_example" "$work/cmake-record" "$prefix/bin/tolvane" --records "$TOLVANE_CAPTURE_MODULE" -- \
    $emulator "$work/cmake-examples/record"
fi

# pkg-config. The run path also finds the library where an emulator sets the
# program's LD_LIBRARY_PATH itself.
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion TolvaneWAVTimeStretch
for example in stretch record; do
  # shellcheck disable=SC2046
  "${CC:-cc}" -std=c11 -Wall -Wextra -Werror -o "$work/pc-$example" "$source/$example.c" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs TolvaneWAVTimeStretch) \
    -Wl,-rpath,"$prefix/lib"
done
# shellcheck disable=SC2086
"$run_example" "$work/pc-run" "$prefix/bin/tolvane" --converts -- $emulator "$work/pc-stretch"
echo "examples built and ran against $prefix"
