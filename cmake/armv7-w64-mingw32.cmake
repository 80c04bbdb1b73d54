# Cross-build for Windows on 32-bit ARM (ARMv7, Thumb-2) with Debian's clang
# and lld.
set(CMAKE_SYSTEM_PROCESSOR ARM)
set(TOLVANE_LLVM_MINGW_TRIPLE armv7-w64-mingw32)
set(TOLVANE_WINDOWS_IMPORTS_MACHINE arm)
include(${CMAKE_CURRENT_LIST_DIR}/llvm-mingw-common.cmake)
