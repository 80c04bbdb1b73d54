# Cross-build for big-endian 64-bit Linux (IBM Z) with Debian's
# g++-s390x-linux-gnu; run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOLVANE_CROSS_TRIPLE s390x-linux-gnu)
set(TOLVANE_CROSS_ARCH s390x)
# qemu-user cannot give a big-endian guest priority-inheriting mutexes on
# this little-endian host (see the script); PulseAudio's client uses them.
set(TOLVANE_QEMU ${CMAKE_CURRENT_LIST_DIR}/qemu_without_pi_futexes.py qemu-s390x)
# The root also holds a Python, which runs the Python binding's test.
set(TOLVANE_CROSS_PYTHON ON)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
