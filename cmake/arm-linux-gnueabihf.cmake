# Cross-build for 32-bit ARM Linux (ARMv7, hard float) with Debian's
# g++-arm-linux-gnueabihf; run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TOLVANE_CROSS_TRIPLE arm-linux-gnueabihf)
set(TOLVANE_CROSS_ARCH armhf)
set(TOLVANE_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
