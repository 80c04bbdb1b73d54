# Debian 12 packages the project uses, and a helper that installs the missing
# ones. Sourced by the other scripts.

# Building the library and the host program.
TOLVANE_BUILD_PACKAGES="cmake ninja-build g++ lld pkg-config libasound2-dev"
# The demo's sample sound, and the test capture source it records from.
TOLVANE_DEMO_PACKAGES="sox pulseaudio libasound2-plugins procps"
# The ARM Windows DLLs (presets windows-arm64, windows-armv7): Debian's clang,
# lld and LLVM tools (llvm-dlltool, llvm-windres) with mingw-w64's headers.
TOLVANE_WINDOWS_ARM_PACKAGES="clang lld llvm mingw-w64-common"
# The test suite: GoogleTest, a PulseAudio daemon and ALSA's PulseAudio plugin
# as a real-time capture source (procps: ps, for starting and stopping it),
# the Windows cross-build run under Wine, GNU parallel for the recipe that
# spreads a batch over several machines, and the C# (Mono) and Python (the
# wheel installed into fresh venvs) bindings' tests.
TOLVANE_TEST_PACKAGES="googletest libgtest-dev libgmock-dev binutils \
pulseaudio pulseaudio-utils libasound2-plugins alsa-utils procps \
g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 python3 python3-pefile \
parallel mono-mcs mono-runtime python3-pip python3-setuptools python3-wheel python3-venv \
$TOLVANE_WINDOWS_ARM_PACKAGES"
# The Python wheel (scripts/wheel): Debian's setuptools and wheel make it,
# readelf reads the glibc versions the library needs.
TOLVANE_WHEEL_PACKAGES="python3 python3-setuptools python3-wheel binutils"
# The fuzz targets (scripts/fuzz): Clang and its libFuzzer.
TOLVANE_FUZZ_PACKAGES="clang libfuzzer-14-dev"
# The Debian packages (scripts/package) and their round trip in the tests:
# CPack's dpkg-shlibdeps and the `file` it runs, gzip for the manual page,
# lintian, and man to read the installed manual page.
TOLVANE_PACKAGE_PACKAGES="dpkg-dev file fakeroot gzip lintian groff-base man-db"
# The benchmarks (bench/): time for the converter's peak memory; arecord as
# the recorder's yardstick and strace to count its system calls and syncs.
TOLVANE_BENCH_PACKAGES="time python3 alsa-utils strace"

# tolvane_ensure_packages PACKAGE...: installs what is missing when run as
# root; otherwise prints the command to run and fails.
tolvane_ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages; run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The cross-built Linux suites (presets linux-arm64, linux-armhf,
# linux-s390x): Debian's cross compilers and qemu-user, and for each target
# architecture, through multiarch, its C++ runtime, ALSA, GoogleTest and
# ALSA's PulseAudio plugin (to record from the test source).
TOLVANE_CROSS_ARCHES="arm64 armhf s390x"
TOLVANE_CROSS_PACKAGES="qemu-user g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu"
TOLVANE_CROSS_TARGET_PACKAGES="libstdc++6 libasound2-dev libgtest-dev libgmock-dev"
# libasound2-plugins:s390x cannot be installed beside this machine's own
# packages: Debian's security updates cover no s390x, so its libraries lag
# behind the native ones they must match version for version. Its PulseAudio
# plugin and the libraries that plugin loads are unpacked on their own into
# TOLVANE_S390X_RUNTIME_ROOT instead (cmake/s390x-linux-gnu.cmake points
# the emulated programs at them).
TOLVANE_S390X_RUNTIME_ROOT=/opt/tolvane-cross/s390x-linux-gnu
TOLVANE_S390X_PULSE_PACKAGES="libasound2-plugins libpulse0 libdbus-1-3 libsndfile1 libx11-xcb1 libx11-6 \
libxcb1 libxau6 libxdmcp6 libbsd0 libmd0 libsystemd0 libcap2 libgcrypt20 libgpg-error0 liblzma5 libzstd1 \
liblz4-1 libasyncns0 libflac12 libogg0 libvorbis0a libvorbisenc2 libopus0 libmpg123-0 libmp3lame0"
# An s390x Python, for the Python binding's test on a big-endian machine, and
# an arm64 one, which installs and runs the arm64 wheel, are unpacked the same
# way into roots of their own (python3.11:ARCH cannot be installed beside the
# native one either).
TOLVANE_S390X_PYTHON_ROOT=/opt/tolvane-cross/s390x-python
TOLVANE_ARM64_PYTHON_ROOT=/opt/tolvane-cross/arm64-python
TOLVANE_CROSS_PYTHON_PACKAGES="python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libffi8 zlib1g libexpat1"

# tolvane_add_architectures ARCH...: enables the foreign architectures that
# are not yet enabled (as root) and refreshes the package lists if it did.
tolvane_add_architectures() {
  local arch missing_arch=0
  for arch in "$@"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" && continue
    if [ "$(id -u)" -ne 0 ]; then
      echo "foreign architecture $arch not enabled; run as root: dpkg --add-architecture $arch" >&2
      return 1
    fi
    dpkg --add-architecture "$arch"
    missing_arch=1
  done
  [ $missing_arch -eq 0 ] || apt-get update -qq
}

# tolvane_ensure_cross_packages: all of the above, idempotently.
tolvane_ensure_cross_packages() {
  local arch packages=$TOLVANE_CROSS_PACKAGES
  # shellcheck disable=SC2086
  tolvane_add_architectures $TOLVANE_CROSS_ARCHES || return 1
  for arch in $TOLVANE_CROSS_ARCHES; do
    local package
    for package in $TOLVANE_CROSS_TARGET_PACKAGES; do packages="$packages $package:$arch"; done
    [ "$arch" = s390x ] || packages="$packages libasound2-plugins:$arch"
  done
  # shellcheck disable=SC2086
  tolvane_ensure_packages $packages || return 1
  tolvane_unpack_foreign s390x "$TOLVANE_S390X_RUNTIME_ROOT" "$TOLVANE_S390X_PULSE_PACKAGES" &&
    tolvane_unpack_foreign s390x "$TOLVANE_S390X_PYTHON_ROOT" "$TOLVANE_CROSS_PYTHON_PACKAGES" &&
    tolvane_unpack_foreign arm64 "$TOLVANE_ARM64_PYTHON_ROOT" "$TOLVANE_CROSS_PYTHON_PACKAGES"
}

# tolvane_unpack_foreign ARCH ROOT PACKAGES: unpacks the ARCH PACKAGES (a
# space-separated list) into ROOT unless that already holds them.
tolvane_unpack_foreign() {
  local arch=$1 root=$2 list=$3
  [ "$(cat "$root/.packages" 2>/dev/null)" = "$list" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$arch packages not unpacked into $root; run scripts/test as root once" >&2
    return 1
  fi
  echo "unpacking $arch packages into $root: $list"
  local debs names="" package deb
  for package in $list; do names="$names $package:$arch"; done
  debs=$(mktemp -d)
  chown _apt "$debs" 2>/dev/null || true
  # Package lists too old for the archive get refreshed once.
  # shellcheck disable=SC2086
  (cd "$debs" && { apt-get download -qq $names || { apt-get update -qq && apt-get download -qq $names; }; }) ||
    { rm -rf "$debs"; return 1; }
  rm -rf "$root.new"
  mkdir -p "$root.new"
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root.new"; done
  rm -rf "$debs"
  echo "$list" >"$root.new/.packages"
  rm -rf "$root"
  mv "$root.new" "$root"
}

# The 32-bit Windows DLL's run under Wine: the 32-bit Wine, from the i386
# architecture.
TOLVANE_WINE32_PACKAGES="wine wine32:i386 libasound2-plugins:i386"

# tolvane_kernel_runs_x86: whether this kernel runs 32-bit x86 programs at
# all. A kernel built without IA-32 emulation, or started with it switched
# off, refuses them ("Exec format error"), and with them the 32-bit Wine.
# Tried on the smallest such program: exit(0).
tolvane_kernel_runs_x86() {
  local probe status
  probe=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$probe/exit0.s" &&
    as --32 -o "$probe/exit0.o" "$probe/exit0.s" && ld -m elf_i386 -o "$probe/exit0" "$probe/exit0.o" &&
    "$probe/exit0" 2>/dev/null
  status=$?
  rm -rf "$probe"
  return $status
}

# tolvane_ensure_wine32: the above, idempotently; nothing where the kernel
# could not run it (the Windows tests then skip the x86 DLL and say why).
tolvane_ensure_wine32() {
  if ! tolvane_kernel_runs_x86; then
    echo "not installing 32-bit Wine: this kernel does not run 32-bit x86 programs"
    return 0
  fi
  tolvane_add_architectures i386 || return 1
  # shellcheck disable=SC2086
  tolvane_ensure_packages $TOLVANE_WINE32_PACKAGES
}

# The ARM64 DLL's run under Wine: Debian's arm64 Wine on qemu-aarch64.
# wine64:arm64 cannot be installed beside the native wine64 (apt would remove
# that), so it is unpacked into a folder of the build's own; the arm64 ALSA
# its audio driver loads comes with the cross suites' packages.
TOLVANE_WINE_ARM64_PACKAGES="libwine wine64 libunwind8"

# tolvane_unpack_wine_arm64 ROOT: unpacks the arm64 Wine into ROOT (unless it
# is there) and fits it to run without binfmt handlers; ROOT/wine then runs
# a Windows program under it.
tolvane_unpack_wine_arm64() {
  local root=${1:-} qemu
  [ -n "$root" ] || { echo "usage: tolvane_unpack_wine_arm64 ROOT" >&2; return 1; }
  qemu=$(command -v qemu-aarch64) || { echo "qemu-aarch64 is not installed (package qemu-user)" >&2; return 1; }
  # Both paths go into the scripts below between double quotes.
  case $root$qemu in *[\"\$\`\\]*) echo "cannot run Wine from a path holding \" \$ \` or \\: $root" >&2; return 1 ;; esac
  tolvane_unpack_foreign arm64 "$root" "$TOLVANE_WINE_ARM64_PACKAGES" || return 1
  # The loader under the emulator. Unless told not to, it re-executes itself,
  # which fails there ("could not exec the wine loader"); its libraries
  # (libunwind) are the unpacked ones. The processes it starts inherit both.
  # Its prefix is one of its own unless one is given: the default, ~/.wine,
  # may well be an x86-64 one.
  cat >"$root/wine" <<EOF || return 1
#!/bin/sh
export WINEPREFIX="\${WINEPREFIX:-$root/prefix}"
export WINELOADERNOEXEC=1
export LD_LIBRARY_PATH="$root/usr/lib/aarch64-linux-gnu\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}"
exec "$qemu" "$root/usr/lib/wine/wine64" "\$@"
EOF
  # The loader starts each new Windows process by executing wine64-preloader
  # from its own folder, handing over its own path and then the program's
  # command line, and the server by executing wineserver from there: both
  # become scripts that start the real programs under the emulator. -p0: the
  # server ends as soon as its last client has, as Debian's own wineserver
  # script has it.
  printf '#!/bin/sh\nshift\nexec "%s" "%s" "$@"\n' "$qemu" "$root/usr/lib/wine/wine64" \
    >"$root/usr/lib/wine/wine64-preloader" || return 1
  printf '#!/bin/sh\nexec "%s" "%s" -p0 "$@"\n' "$qemu" "$root/usr/lib/wine/wineserver64" \
    >"$root/usr/lib/wine/wineserver" || return 1
  chmod 755 "$root/wine" "$root/usr/lib/wine/wine64-preloader" "$root/usr/lib/wine/wineserver"
}
