# Shared part of the Linux cross toolchains: Debian's cross compilers, the
# target's own libraries from Debian's packages of its architecture,
# unpacked by scripts/packages.sh into a root of the build's own (never
# installed), and qemu-user to run what is built. The including file sets
# TOLVANE_CROSS_TRIPLE, TOLVANE_CROSS_ARCH (Debian's name),
# CMAKE_SYSTEM_PROCESSOR and TOLVANE_QEMU.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TOLVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOLVANE_CROSS_TRIPLE}-g++)

# The root holds the target's packages as Debian lays them out (headers in
# usr/include, libraries in usr/lib/TRIPLE): libraries, headers and CMake
# packages are looked for there first, the compiler's own C library stays
# the cross toolchain's.
set(TOLVANE_CROSS_ROOT /opt/tolvane-cross/${TOLVANE_CROSS_ARCH})
set(CMAKE_LIBRARY_ARCHITECTURE ${TOLVANE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${TOLVANE_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Its headers are system headers, as they would be on the target (ALSA's
# are not -pedantic clean): GCC keeps a directory named both with -isystem
# and with -I (by FindALSA) a system one.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${TOLVANE_CROSS_ROOT}/usr/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${TOLVANE_CROSS_ROOT}/usr/include)

# qemu -L: every absolute path the program opens is looked for in the root
# first. The emulated loader, the C library, ALSA, its plugins
# (usr/lib/TRIPLE/alsa-lib) and the PulseAudio client's private library
# (found by its absolute run path) are then the root's; what the root does
# not hold (the build tree, /tmp, the tests' own ALSA setup) is the
# machine's.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVANE_QEMU} -L ${TOLVANE_CROSS_ROOT})
# dpkg-shlibdeps, for the packages of scripts/package: the target's
# libraries are in the root, whose DEBIAN/ holds their symbols and shlibs.
set(TOLVANE_CROSS_LIBRARY_DIRS ${TOLVANE_CROSS_ROOT}/usr/lib/${TOLVANE_CROSS_TRIPLE} ${TOLVANE_CROSS_ROOT}/lib/${TOLVANE_CROSS_TRIPLE})
