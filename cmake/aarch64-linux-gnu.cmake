# Cross-build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; run
# under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOLVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(TOLVANE_QEMU qemu-aarch64)
# An arm64 Python, unpacked by scripts/packages.sh, which installs and
# runs the arm64 wheel.
set(TOLVANE_CROSS_PYTHON_ROOT /opt/tolvane-cross/arm64-python)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
