# Debian 12 packages the project uses, and a helper that installs the missing
# ones. Sourced by the other scripts.

# Building the library and the host program.
TOLVANE_BUILD_PACKAGES="cmake ninja-build g++ pkg-config libasound2-dev"
# The demo's sample sound, and the test capture source it records from.
TOLVANE_DEMO_PACKAGES="sox pulseaudio libasound2-plugins procps"
# The test suite: GoogleTest, a PulseAudio daemon and ALSA's PulseAudio plugin
# as a real-time capture source (procps: ps, for starting and stopping it),
# and the Windows cross-build run under Wine.
TOLVANE_TEST_PACKAGES="googletest libgtest-dev libgmock-dev binutils \
pulseaudio pulseaudio-utils libasound2-plugins alsa-utils procps \
g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 python3 python3-pefile"
# The Debian packages (scripts/package) and their round trip in the tests:
# CPack's dpkg-shlibdeps and the `file` it runs, gzip for the manual page,
# lintian, and man to read the installed manual page.
TOLVANE_PACKAGE_PACKAGES="dpkg-dev file fakeroot gzip lintian groff-base man-db"

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
