# Shared part of the Linux cross toolchains: Debian's cross compilers, the
# target's own libraries from multiarch packages (libasound2-dev:ARCH, ...),
# and qemu-user to run what is built. The including file sets
# TOLVANE_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR and TOLVANE_QEMU.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TOLVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOLVANE_CROSS_TRIPLE}-g++)

# Multiarch: the target's headers and libraries live beside the host's under
# /usr (lib/TRIPLE, include), so the search root stays "/" and the
# architecture directory picks the right ones.
set(CMAKE_LIBRARY_ARCHITECTURE ${TOLVANE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Without -L: qemu then loads the target's C library from the multiarch
# packages (libc6:ARCH), the one the target's other libraries were built
# against, rather than the cross toolchain's copy.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVANE_QEMU})
if(DEFINED TOLVANE_CROSS_RUNTIME_ROOT)
  # Target libraries unpacked outside the package database (see
  # scripts/packages.sh): the programs are pointed at them. The PulseAudio
  # client's private library sits in a directory of its own, which libpulse
  # finds by an absolute run path into /usr.
  set(_runtime_libs ${TOLVANE_CROSS_RUNTIME_ROOT}/usr/lib/${TOLVANE_CROSS_TRIPLE})
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR
    -E LD_LIBRARY_PATH=${_runtime_libs}:${_runtime_libs}/pulseaudio:${TOLVANE_CROSS_RUNTIME_ROOT}/lib/${TOLVANE_CROSS_TRIPLE}
    -E ALSA_PLUGIN_DIR=${_runtime_libs}/alsa-lib)
endif()
