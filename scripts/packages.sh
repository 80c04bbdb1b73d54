# shellcheck shell=bash
# Debian 12 packages the project uses, and the helpers that install the
# missing ones or unpack another architecture's into a root of the build's
# own. Sourced by the other scripts, most of them under `set -euo pipefail`:
# no pipeline here may end its reader early (a writer killed by SIGPIPE
# fails the whole pipeline under pipefail); tests/scripts/pipelines_test.py
# keeps that so.
# The lists are read by the scripts that source this file:
# shellcheck disable=SC2034

# --- What is installed ------------------------------------------------------

# Building the library and the host program.
TOLVANE_BUILD_PACKAGES=(cmake ninja-build g++ lld pkg-config libasound2-dev)
# The demo's sample sound, and the test capture source it records from.
TOLVANE_DEMO_PACKAGES=(sox pulseaudio libasound2-plugins procps libgtest-dev libgmock-dev)
# The ARM Windows DLLs (presets windows-arm64, windows-armv7): Debian's clang,
# lld and LLVM tools (llvm-dlltool, llvm-windres) with mingw-w64's headers.
TOLVANE_WINDOWS_ARM_PACKAGES=(clang lld llvm mingw-w64-common)
# The test suite: GoogleTest, a PulseAudio daemon and ALSA's PulseAudio plugin
# as a real-time capture source (procps: ps, for starting and stopping it),
# GNU parallel for the recipe that spreads a batch over several machines,
# the C# (Mono) and Python (the wheel installed into fresh venvs) bindings'
# tests, and shellcheck for the scripts.
TOLVANE_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev binutils
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils procps parallel shellcheck
  mono-mcs mono-runtime python3 python3-pip python3-setuptools python3-wheel python3-venv)
# The Windows DLLs (mingw-w64 for x64 and x86, Clang for ARM) and their
# tests under Wine, which read the DLLs with pefile.
TOLVANE_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64
  "${TOLVANE_WINDOWS_ARM_PACKAGES[@]}" wine64 python3 python3-pefile)
# The Python wheel (scripts/wheel): Debian's setuptools and wheel make it,
# readelf reads the glibc versions the library needs.
TOLVANE_WHEEL_PACKAGES=(python3 python3-setuptools python3-wheel binutils)
# The fuzz targets (scripts/fuzz): Clang and its libFuzzer.
TOLVANE_FUZZ_PACKAGES=(clang libfuzzer-14-dev)
# The Debian packages (scripts/package) and their round trip in the tests:
# CPack's dpkg-shlibdeps and the `file` it runs, gzip for the manual page,
# lintian, and man to read the installed manual page.
TOLVANE_PACKAGE_PACKAGES=(dpkg-dev file fakeroot gzip lintian groff-base man-db)
# The benchmarks (bench/): time for the converter's peak memory; arecord as
# the recorder's yardstick and strace to count its system calls and syncs.
TOLVANE_BENCH_PACKAGES=(time python3 alsa-utils strace)
# The cross-built Linux suites (presets linux-arm64, linux-armhf,
# linux-s390x): Debian's cross compilers and qemu-user, all native packages.
TOLVANE_CROSS_PACKAGES=(qemu-user g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu)
# The 32-bit Windows DLL's run under Wine: the 32-bit Wine, from the i386
# architecture. Optional: where it cannot be had, the x86 DLL is checked as
# a binary only and the Windows tests say why in a SKIP line.
TOLVANE_WINE32_PACKAGES=(wine wine32:i386 libasound2-plugins:i386)

# --- What is unpacked, never installed ----------------------------------------
#
# Another architecture's library of `Multi-Arch: same` installs only at
# exactly the version of the machine's own copy, which Debian's security
# updates (none for s390x, and at times a mirror's failing index for the
# others) leave behind. So the cross suites' target libraries are fetched
# with `apt-get download`, which takes the versions the lists name, and
# unpacked into a root for each architecture; the toolchain files
# (cmake/linux-cross-common.cmake) build against it and run qemu with it
# (-L ROOT). `dpkg --add-architecture` is needed only for apt to see the
# lists.
TOLVANE_CROSS_ARCHES=(arm64 armhf s390x)
declare -gA TOLVANE_CROSS_ROOTS=(
  [arm64]=/opt/tolvane-cross/arm64
  [armhf]=/opt/tolvane-cross/armhf
  [s390x]=/opt/tolvane-cross/s390x)
# Every root: the C and C++ runtimes, ALSA and its headers, GoogleTest, and
# ALSA's PulseAudio plugin (to record from the test source) with the
# libraries the plugin loads.
TOLVANE_CROSS_TARGET_PACKAGES=(libc6 libgcc-s1 libstdc++6 libasound2 libasound2-dev
  libgtest-dev libgmock-dev
  libasound2-plugins libpulse0 libdbus-1-3 libsndfile1 libx11-xcb1 libx11-6
  libxcb1 libxau6 libxdmcp6 libbsd0 libmd0 libsystemd0 libcap2 libgcrypt20 libgpg-error0 liblzma5 libzstd1
  liblz4-1 libasyncns0 libflac12 libogg0 libvorbis0a libvorbisenc2 libopus0 libmpg123-0 libmp3lame0)
# The arm64 and s390x roots also hold a Python: the arm64 one installs and
# runs the arm64 wheel, the s390x one tests the binding on a big-endian
# machine.
TOLVANE_CROSS_PYTHON_PACKAGES=(python3.11-minimal libpython3.11-minimal libpython3.11-stdlib
  libffi8 zlib1g libexpat1)
# The ARM64 DLL's run under Wine: Debian's arm64 Wine on qemu-aarch64,
# unpacked into a folder of the build's own (wine64:arm64 would remove the
# native wine64); the arm64 root supplies its C library and ALSA.
TOLVANE_WINE_ARM64_PACKAGES=(libwine wine64 libunwind8)
# The ARMv7 DLL's run under Wine: Debian's armhf Wine on Debian 13's
# qemu-arm, the armhf root supplying its C library and ALSA. Debian 12's
# qemu-arm (7.2) takes Wine's fixed, no-replace mappings (MAP_FIXED_NOREPLACE)
# as hints, and Wine never gets going on it; Debian 13's qemu-user (qemu 10)
# ships static-pie binaries that run as they are here. Its qemu-arm alone is
# unpacked, from the trixie suite of this machine's own mirror, and used for
# this Wine only: the cross suites keep Debian 12's qemu. Each root is made
# once per machine.
TOLVANE_WINE_ARMHF_PACKAGES=(libwine wine32 libunwind8)
TOLVANE_WINE_ARMHF_ROOT=/opt/tolvane-cross/armhf-wine
TOLVANE_QEMU_TRIXIE_ROOT=/opt/tolvane-cross/qemu-trixie
# Its prefixes: making one takes minutes under the emulator, so they are kept
# outside the build trees, one per Wine and qemu version
# (tests/windows/armhf_wine_prefix.sh makes them).
TOLVANE_WINE_ARMHF_PREFIXES=/var/cache/tolvane-cross/armhf-wine-prefix

# --- Helpers -------------------------------------------------------------------

# What could not be had, one "WHAT: WHY" line each, for the caller to report.
TOLVANE_UNAVAILABLE=()

# Every apt call: waits for another apt holding the dpkg lock, retries what
# it fetches.
tolvane_apt() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 "$@"
}

# tolvane_installed PACKAGE: whether PACKAGE (of this machine's architecture
# unless it names another: PACKAGE:ARCH) is installed. dpkg-query lists every
# architecture's copy of a name without one.
tolvane_installed() {
  local status
  status=$(dpkg-query -W -f='${binary:Package} ${Status}\n' "$1" 2>/dev/null) || return 1
  [[ $'\n'$status$'\n' == *$'\n'"$1 install ok installed"$'\n'* ||
    $'\n'$status$'\n' == *$'\n'"$1:$(dpkg --print-architecture) install ok installed"$'\n'* ]]
}

# tolvane_apt_update: refreshes the package lists, once a run. An index that
# fails (a mirror in sync, a missing suite) does not stop it: apt keeps the
# lists it had for that one, and whatever is still missing afterwards is
# reported by name where it is wanted. A lists lock held by another apt is
# waited for.
TOLVANE_APT_UPDATED=0
tolvane_apt_update() {
  [ "$TOLVANE_APT_UPDATED" = 0 ] || return 0
  TOLVANE_APT_UPDATED=1
  local log try
  log=$(mktemp)
  for try in $(seq 60); do
    if tolvane_apt update -qq >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    grep -q 'Could not get lock' "$log" || break
    [ "$try" = 60 ] || sleep 10
  done
  echo "warning: apt-get update failed for some package lists; going on with those there are:" >&2
  sed 's/^/  /' "$log" >&2
  rm -f "$log"
  return 0
}

# tolvane_why_not PACKAGE: apt's reason, in one line, that PACKAGE cannot be
# installed (after an install of it failed).
tolvane_why_not() {
  local out
  out=$(tolvane_apt install -s -q "$1" 2>&1) && { echo "installable alone (failed beside the others)"; return; }
  # Its first unmet dependency says more than apt's closing line.
  local unmet
  unmet=$(grep -m 1 -E '^ [^ ]+ : (Pre)?Depends:' <<<"$out" | tr -s ' ') || true
  echo "${unmet:+${unmet# }; }$(grep -m 1 '^E:' <<<"$out")"
}

# tolvane_ensure_packages PACKAGE...: installs what is missing when run as
# root (the lists are refreshed only when the install fails without); what
# still cannot be installed is named with apt's reason, added to
# TOLVANE_UNAVAILABLE, and makes it fail, the others installed all the same.
# Not as root: prints the command to run and fails.
tolvane_ensure_packages() {
  local missing=() package
  for package in "$@"; do
    tolvane_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages; run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  tolvane_apt install -y -qq "${missing[@]}" >/dev/null 2>&1 && return 0
  tolvane_apt_update
  tolvane_apt install -y -qq "${missing[@]}" >/dev/null && return 0
  # One at a time: all but those that cannot be had.
  local status=0 reason
  for package in "${missing[@]}"; do
    tolvane_installed "$package" && continue
    tolvane_apt install -y -qq "$package" >/dev/null 2>&1 && continue
    reason=$(tolvane_why_not "$package")
    echo "cannot install $package: $reason" >&2
    TOLVANE_UNAVAILABLE+=("$package: $reason")
    status=1
  done
  return $status
}

# tolvane_add_architectures ARCH...: enables the foreign architectures that
# are not yet enabled (as root); their lists come with the next update.
tolvane_add_architectures() {
  local arch enabled=()
  mapfile -t enabled < <(dpkg --print-foreign-architectures)
  for arch in "$@"; do
    [[ " ${enabled[*]} " == *" $arch "* ]] && continue
    if [ "$(id -u)" -ne 0 ]; then
      echo "foreign architecture $arch not enabled; run as root: dpkg --add-architecture $arch" >&2
      return 1
    fi
    dpkg --add-architecture "$arch"
    TOLVANE_APT_UPDATED=0
  done
}

# tolvane_foreign_names ARCH PACKAGE...: apt's names of the ARCH PACKAGEs,
# one a line. A PACKAGE may name its release: PACKAGE/RELEASE.
tolvane_foreign_names() {
  local arch=$1 package
  shift
  for package in "$@"; do
    case $package in
      */*) echo "${package%%/*}:$arch/${package#*/}" ;;
      *) echo "$package:$arch" ;;
    esac
  done
}

# tolvane_debs_wanted NAME...: the files (NAME_VERSION_ARCH.deb) that
# `apt-get download NAME...` takes from the lists now, sorted, one a line.
tolvane_debs_wanted() {
  local uris
  uris=$(apt-get download --print-uris -qq "$@") || return 1
  awk '{ print $2 }' <<<"$uris" | sort
}

# tolvane_unpack_foreign ARCH ROOT PACKAGE...: unpacks the ARCH PACKAGEs, at
# the versions the package lists name, into ROOT, unless ROOT holds exactly
# those already (ROOT/.packages names the files unpacked), so that a root
# follows the lists as they move on. Lists that do not name them all are
# refreshed once. The packages' symbols and shlibs files are gathered in
# ROOT/DEBIAN, where dpkg-shlibdeps takes a library's dependency from when it
# finds the library in ROOT. The new tree replaces ROOT only when every
# package was fetched and unpacked, and nothing is left behind otherwise,
# interrupted or not. One unpacking at a time for a ROOT (ROOT.lock).
tolvane_unpack_foreign() {
  local arch=$1 root=$2
  shift 2
  local names=() wanted
  mapfile -t names < <(tolvane_foreign_names "$arch" "$@")
  wanted=$(tolvane_debs_wanted "${names[@]}" 2>/dev/null) || {
    tolvane_apt_update
    wanted=$(tolvane_debs_wanted "${names[@]}")
  } || {
    echo "cannot unpack into $root: the package lists do not name all of ${names[*]}" >&2
    TOLVANE_UNAVAILABLE+=("$root (${names[*]}): not all named by the package lists (apt's message above)")
    return 1
  }
  [ "$(cat "$root/.packages" 2>/dev/null)" = "$wanted" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$arch packages not unpacked into $root; run scripts/test as root once" >&2
    return 1
  fi
  mkdir -p "$(dirname "$root")" || return 1
  # In a subshell: its traps are its own, and clean up however it ends.
  # Every step is checked: errexit does not hold on the left of ||.
  (
    exec {lock}>"$root.lock" && flock "$lock" || exit 1
    [ "$(cat "$root/.packages" 2>/dev/null)" = "$wanted" ] && exit 0
    debs=$(mktemp -d) || exit 1
    new=$(mktemp -d "$root.new.XXXXXX") || exit 1
    trap 'rm -rf "$debs" "$new"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    echo "unpacking into $root: ${names[*]}"
    chown _apt "$debs" 2>/dev/null
    (cd "$debs" && tolvane_apt download -qq "${names[@]}") || exit 1
    got=$(cd "$debs" && printf '%s\n' *.deb | sort)
    [ "$got" = "$wanted" ] || { echo "apt-get download fetched other files than the lists name" >&2; exit 1; }
    mkdir "$new/DEBIAN" || exit 1
    for deb in "$debs"/*.deb; do
      dpkg-deb -x "$deb" "$new" || { echo "dpkg-deb -x failed on $deb" >&2; exit 1; }
      rm -rf "$debs/control" && dpkg-deb -e "$deb" "$debs/control" || exit 1
      for file in symbols shlibs; do
        [ ! -f "$debs/control/$file" ] || cat "$debs/control/$file" >>"$new/DEBIAN/$file" || exit 1
      done
    done
    printf '%s\n' "$wanted" >"$new/.packages" && chmod 755 "$new" || exit 1
    rm -rf "$root" && mv "$new" "$root"
  ) || {
    echo "cannot unpack into $root: fetching or unpacking failed" >&2
    TOLVANE_UNAVAILABLE+=("$root (${names[*]}): fetching or unpacking failed (see above)")
    return 1
  }
}

# tolvane_cross_root_packages ARCH: the packages of ARCH's root, one a line.
tolvane_cross_root_packages() {
  printf '%s\n' "${TOLVANE_CROSS_TARGET_PACKAGES[@]}"
  case $1 in arm64 | s390x) printf '%s\n' "${TOLVANE_CROSS_PYTHON_PACKAGES[@]}" ;; esac
}

# tolvane_ensure_cross_root ARCH: ARCH's root as tolvane_unpack_foreign makes
# it, idempotently.
tolvane_ensure_cross_root() {
  local packages=()
  mapfile -t packages < <(tolvane_cross_root_packages "$1")
  tolvane_add_architectures "$1" &&
    tolvane_unpack_foreign "$1" "${TOLVANE_CROSS_ROOTS[$1]}" "${packages[@]}"
}

# tolvane_ensure_cross_packages [ARCH...]: the cross compilers and qemu-user,
# and the roots of ARCH (every cross architecture when none is named). Every
# root is tried, whatever became of the others.
tolvane_ensure_cross_packages() {
  local arch status=0 arches=("$@")
  [ ${#arches[@]} -gt 0 ] || arches=("${TOLVANE_CROSS_ARCHES[@]}")
  tolvane_ensure_packages "${TOLVANE_CROSS_PACKAGES[@]}" || status=1
  # All at once: one refresh of the lists serves them all.
  tolvane_add_architectures "${arches[@]}" || status=1
  for arch in "${arches[@]}"; do
    tolvane_ensure_cross_root "$arch" || status=1
  done
  return $status
}

# tolvane_kernel_runs_x86: whether this kernel runs 32-bit x86 programs at
# all. A kernel built without IA-32 emulation, or started with it switched
# off, refuses them ("Exec format error"), and with them the 32-bit Wine.
# Tried on the smallest such program: exit(0).
tolvane_kernel_runs_x86() {
  local probe status
  probe=$(mktemp -d)
  # shellcheck disable=SC2016 # assembly, not shell
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$probe/exit0.s" &&
    as --32 -o "$probe/exit0.o" "$probe/exit0.s" && ld -m elf_i386 -o "$probe/exit0" "$probe/exit0.o" &&
    "$probe/exit0" 2>/dev/null
  status=$?
  rm -rf "$probe"
  return $status
}

# tolvane_ensure_wine32: the 32-bit Wine, idempotently; nothing where the
# kernel could not run it. Where it cannot be installed, the reason is left
# in TOLVANE_WINE32_UNAVAILABLE (exported: the Windows tests print it in
# their SKIP line) and it still succeeds.
tolvane_ensure_wine32() {
  if ! tolvane_kernel_runs_x86; then
    echo "not installing 32-bit Wine: this kernel does not run 32-bit x86 programs"
    return 0
  fi
  local before=${#TOLVANE_UNAVAILABLE[@]}
  tolvane_add_architectures i386 && tolvane_ensure_packages "${TOLVANE_WINE32_PACKAGES[@]}" && return 0
  export TOLVANE_WINE32_UNAVAILABLE="${TOLVANE_UNAVAILABLE[*]:$before}"
  : "${TOLVANE_WINE32_UNAVAILABLE:=i386 is not enabled}"
  TOLVANE_UNAVAILABLE=("${TOLVANE_UNAVAILABLE[@]:0:$before}")
  return 0
}

# tolvane_unpack_wine_arm64 ROOT: unpacks the arm64 Wine into ROOT (unless it
# is there) and fits it to run without binfmt handlers; ROOT/wine then runs
# a Windows program under it, on the arm64 root's C library and ALSA.
tolvane_unpack_wine_arm64() {
  local root=${1:-} qemu target_root=${TOLVANE_CROSS_ROOTS[arm64]}
  [ -n "$root" ] || { echo "usage: tolvane_unpack_wine_arm64 ROOT" >&2; return 1; }
  qemu=$(command -v qemu-aarch64) || { echo "qemu-aarch64 is not installed (package qemu-user)" >&2; return 1; }
  # The paths go into the scripts below between double quotes.
  case $root$qemu$target_root in *[\"\$\`\\]*) echo "cannot run Wine from a path holding \" \$ \` or \\: $root" >&2; return 1 ;; esac
  [ -f "$target_root/.packages" ] || { echo "the arm64 root $target_root is not unpacked" >&2; return 1; }
  tolvane_unpack_foreign arm64 "$root" "${TOLVANE_WINE_ARM64_PACKAGES[@]}" || return 1
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
exec "$qemu" -L "$target_root" "$root/usr/lib/wine/wine64" "\$@"
EOF
  # The loader starts each new Windows process by executing wine64-preloader
  # from its own folder, handing over its own path and then the program's
  # command line, and the server by executing wineserver from there: both
  # become scripts that start the real programs under the emulator. -p0: the
  # server ends as soon as its last client has, as Debian's own wineserver
  # script has it.
  printf '#!/bin/sh\nshift\nexec "%s" -L "%s" "%s" "$@"\n' "$qemu" "$target_root" "$root/usr/lib/wine/wine64" \
    >"$root/usr/lib/wine/wine64-preloader" || return 1
  printf '#!/bin/sh\nexec "%s" -L "%s" "%s" -p0 "$@"\n' "$qemu" "$target_root" "$root/usr/lib/wine/wineserver64" \
    >"$root/usr/lib/wine/wineserver" || return 1
  chmod 755 "$root/wine" "$root/usr/lib/wine/wine64-preloader" "$root/usr/lib/wine/wineserver"
}

# tolvane_mirror_uri: the URI that this machine's own Debian release comes
# from, as its apt sources name it.
tolvane_mirror_uri() {
  local codename targets uri
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # shellcheck disable=SC2016 # apt's fields, not shell
  targets=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Created-By: Packages') || return 1
  uri=$(awk -v suite="$codename" '$2 == suite && $3 == "main" { print $1 }' <<<"$targets")
  uri=${uri%%$'\n'*}
  [ -n "$uri" ] || { echo "no apt source of this machine serves $codename main" >&2; return 1; }
  echo "$uri"
}

# tolvane_unpack_qemu_trixie ROOT: unpacks Debian 13's qemu-arm into ROOT
# (ROOT/usr/bin/qemu-arm) unless it is there; ROOT/.packages names the
# package file it came from. The trixie suite of this machine's own mirror
# is read through a private apt view (a source list, package lists and
# cache of its own, no dpkg status), so nothing of the machine's apt
# configuration or state changes. It is not refreshed as the suite moves on:
# any qemu 10 serves, and the Wine prefix is named after the one in use.
tolvane_unpack_qemu_trixie() {
  local root=${1:-} uri
  [ -n "$root" ] || { echo "usage: tolvane_unpack_qemu_trixie ROOT" >&2; return 1; }
  [ -x "$root/usr/bin/qemu-arm" ] && [ -s "$root/.packages" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Debian 13's qemu-arm not unpacked into $root; run scripts/test as root once" >&2
    return 1
  fi
  uri=$(tolvane_mirror_uri) || return 1
  mkdir -p "$(dirname "$root")" || return 1
  # In a subshell: its traps are its own, and clean up however it ends.
  # Every step is checked: errexit does not hold on the left of ||.
  (
    exec {lock}>"$root.lock" && flock "$lock" || exit 1
    [ -x "$root/usr/bin/qemu-arm" ] && [ -s "$root/.packages" ] && exit 0
    view=$(mktemp -d) || exit 1
    new=$(mktemp -d "$root.new.XXXXXX") || exit 1
    trap 'rm -rf "$view" "$new"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    echo "unpacking Debian 13's qemu-arm (qemu-user from $uri trixie) into $root"
    mkdir -p "$view/sources" "$view/lists/partial" "$view/cache" "$view/debs" || exit 1
    printf 'Types: deb\nURIs: %s\nSuites: trixie\nComponents: main\nSigned-By: %s\n' \
      "$uri" /usr/share/keyrings/debian-archive-keyring.gpg >"$view/sources/trixie.sources" || exit 1
    # apt fetches as _apt.
    chmod 755 "$view" || exit 1
    chown _apt "$view/lists/partial" "$view/debs" 2>/dev/null
    apt_view=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$view/sources"
      -o "Dir::State::Lists=$view/lists" -o Dir::State::status=/dev/null -o APT::Architectures::=amd64
      -o "Dir::Cache=$view/cache" -o Dir::Etc::preferences=/dev/null -o Dir::Etc::preferencesparts=/dev/null)
    tolvane_apt "${apt_view[@]}" update -qq || exit 1
    (cd "$view/debs" && tolvane_apt "${apt_view[@]}" download -qq qemu-user) || exit 1
    deb=$(echo "$view"/debs/qemu-user_*.deb)
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$new" ./usr/bin/qemu-arm || exit 1
    "$new/usr/bin/qemu-arm" --version >/dev/null || { echo "the unpacked qemu-arm does not run" >&2; exit 1; }
    basename "$deb" >"$new/.packages" && chmod 755 "$new" || exit 1
    rm -rf "$root" && mv "$new" "$root"
  ) || {
    echo "cannot unpack Debian 13's qemu-arm into $root: fetching or unpacking failed" >&2
    TOLVANE_UNAVAILABLE+=("$root (qemu-user from $uri trixie): fetching or unpacking failed (see above)")
    return 1
  }
}

# tolvane_unpack_wine_armhf ROOT QEMU: unpacks the armhf Wine into ROOT
# (unless it is there) and fits it to run on QEMU, a qemu-arm, without binfmt
# handlers, on the armhf root's C library and ALSA; ROOT/wine then runs a
# Windows program under it.
tolvane_unpack_wine_armhf() {
  local root=${1:-} qemu=${2:-} target_root=${TOLVANE_CROSS_ROOTS[armhf]} lib loader
  if [ -z "$root" ] || [ ! -x "$qemu" ]; then
    echo "usage: tolvane_unpack_wine_armhf ROOT QEMU-ARM" >&2
    return 1
  fi
  # The paths go into the scripts below between double quotes.
  case $root$qemu$target_root in *[\"\$\`\\]*) echo "cannot run Wine from a path holding \" \$ \` or \\: $root" >&2; return 1 ;; esac
  [ -f "$target_root/.packages" ] || { echo "the armhf root $target_root is not unpacked" >&2; return 1; }
  tolvane_unpack_foreign armhf "$root" "${TOLVANE_WINE_ARMHF_PACKAGES[@]}" || return 1
  lib=$root/usr/lib/wine
  loader=$lib/wine.real
  # The loader runs under the emulator from a script in its place: Wine
  # finds its other parts beside that path, and starts new processes by it.
  if [ ! -e "$loader" ]; then
    mv "$lib/wine" "$loader" || return 1
  fi
  # Unless told not to, the loader re-executes itself, which fails under the
  # emulator; its own libraries (libunwind) are the unpacked ones, the rest
  # come from the armhf root (-L: the root comes first for every file the
  # program opens, its dynamic linker included). The processes it starts
  # inherit all three.
  printf '#!/bin/sh\nexport WINELOADERNOEXEC=1\nexport LD_LIBRARY_PATH="%s"\nexec "%s" -L "%s" "%s" "$@"\n' \
    "$root/usr/lib/arm-linux-gnueabihf" "$qemu" "$target_root" "$loader" >"$lib/wine" || return 1
  # Each new Windows process is started by executing wine-preloader from the
  # loader's folder, with the loader's path and then the program's command
  # line: without this script the loader executes wine.real itself and gets
  # ENOEXEC. The server (-p0: it ends as soon as its last client has) runs
  # under the emulator too.
  printf '#!/bin/sh\nshift\nexec "%s" -L "%s" "%s" "$@"\n' "$qemu" "$target_root" "$loader" \
    >"$lib/wine-preloader" || return 1
  printf '#!/bin/sh\nexec "%s" -L "%s" "%s" -p0 "$@"\n' "$qemu" "$target_root" "$lib/wineserver32" \
    >"$lib/wineserver" || return 1
  # ROOT/wine: a Windows program under this Wine, in its made prefix unless
  # WINEPREFIX names another (never Wine's default, ~/.wine, for want of a
  # name).
  local prefix
  prefix=$(tolvane_wine_armhf_prefix "$root" "$qemu") || return 1
  # shellcheck disable=SC2016 # expanded by the script written
  printf '#!/bin/sh\nexport WINEPREFIX="${WINEPREFIX:-%s}"\nexec "%s" "$@"\n' \
    "$prefix" "$lib/wine" >"$root/wine" || return 1
  chmod 755 "$root/wine" "$lib/wine" "$lib/wine-preloader" "$lib/wineserver"
}

# tolvane_wine_armhf_prefix ROOT QEMU: the prefix of the Wine in ROOT on
# QEMU, named after both versions.
tolvane_wine_armhf_prefix() {
  local wine qemu
  wine=$(zcat "$1/usr/share/doc/libwine/changelog.Debian.gz" | sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p') || wine=
  if [ -z "$wine" ]; then
    echo "cannot tell the version of the Wine in $1" >&2
    return 1
  fi
  qemu=$("$2" --version) || return 1
  qemu=${qemu#qemu-arm version }
  qemu=${qemu%%[ $'\n']*}
  echo "$TOLVANE_WINE_ARMHF_PREFIXES/wine-${wine//[^A-Za-z0-9.+_-]/_}-qemu-${qemu//[^A-Za-z0-9.+_-]/_}"
}
