# Cross-build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; run
# under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOLVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(TOLVANE_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
