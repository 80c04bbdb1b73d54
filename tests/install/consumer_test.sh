#!/bin/sh
# usage: consumer_test.sh BUILD_DIR WORK_DIR CONSUMER_SOURCE_DIR
# A cross-built tree sets CC (its C compiler), TOLVANE_TOOLCHAIN_FILE and
# TOLVANE_EMULATOR (the command words that run its programs).
set -eu
build=$1 work=$2 source=$3
emulator=${TOLVANE_EMULATOR:-}
rm -rf "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tolvane share/man/man1/tolvane.1.gz include/TolvaneWAVTimeStretch.h lib/libTolvaneWAVTimeStretch.so.1 \
         lib/pkgconfig/TolvaneWAVTimeStretch.pc lib/cmake/TolvaneWAVTimeStretch/TolvaneWAVTimeStretchConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
$emulator "$prefix/bin/tolvane" --version

# CMake package.
cmake -S "$source" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  ${TOLVANE_TOOLCHAIN_FILE:+"-DCMAKE_TOOLCHAIN_FILE=$TOLVANE_TOOLCHAIN_FILE"} >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" $emulator "$work/cmake-consumer/consumer" >/dev/null

# pkg-config. The run path also finds the library where an emulator sets the
# program's LD_LIBRARY_PATH itself.
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion TolvaneWAVTimeStretch
"${CC:-cc}" -std=c11 -Wall -Werror -o "$work/pc-consumer" "$source/consumer.c" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs TolvaneWAVTimeStretch) \
  -Wl,-rpath,"$prefix/lib"
LD_LIBRARY_PATH="$prefix/lib" $emulator "$work/pc-consumer" >/dev/null
echo "consumer built and ran against $prefix"
