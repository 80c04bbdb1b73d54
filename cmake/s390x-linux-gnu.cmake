# Cross-build for big-endian 64-bit Linux (IBM Z) with Debian's
# g++-s390x-linux-gnu; run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOLVANE_CROSS_TRIPLE s390x-linux-gnu)
# qemu-user cannot give a big-endian guest priority-inheriting mutexes on
# this little-endian host (see the script); PulseAudio's client uses them.
set(TOLVANE_QEMU ${CMAKE_CURRENT_LIST_DIR}/qemu_without_pi_futexes.py qemu-s390x)
# Debian's s390x packages lag behind this machine's (no security updates for
# s390x), so libasound2-plugins:s390x cannot be installed beside them;
# scripts/packages.sh unpacks its PulseAudio plugin and libraries here.
set(TOLVANE_CROSS_RUNTIME_ROOT /opt/tolvane-cross/s390x-linux-gnu)
# And an s390x Python there, which runs the Python binding's test.
set(TOLVANE_CROSS_PYTHON_ROOT /opt/tolvane-cross/s390x-python)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
