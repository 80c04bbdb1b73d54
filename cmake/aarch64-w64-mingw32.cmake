# Cross-build for Windows on 64-bit ARM with Debian's clang and lld.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(TOLVANE_LLVM_MINGW_TRIPLE aarch64-w64-mingw32)
set(TOLVANE_WINDOWS_IMPORTS_MACHINE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/llvm-mingw-common.cmake)
