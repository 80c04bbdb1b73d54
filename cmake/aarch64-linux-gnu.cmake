# Cross-build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; run
# under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOLVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(TOLVANE_CROSS_ARCH arm64)
set(TOLVANE_QEMU qemu-aarch64)
# The root also holds a Python, which installs and runs the arm64 wheel.
set(TOLVANE_CROSS_PYTHON ON)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
