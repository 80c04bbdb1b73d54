# Shared part of the ARM Windows cross toolchains: Debian's clang, lld and
# llvm tools (llvm-dlltool, llvm-windres) with the headers of
# mingw-w64-common. Debian has no C or C++ runtime libraries for these
# targets: the library is built alone, links no runtime library, and imports
# the system's DLLs through import libraries made from the lists in
# src/platform/imports. The including file sets TOLVANE_LLVM_MINGW_TRIPLE,
# CMAKE_SYSTEM_PROCESSOR and TOLVANE_WINDOWS_IMPORTS_MACHINE (llvm-dlltool's -m).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOLVANE_LLVM_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${TOLVANE_LLVM_MINGW_TRIPLE})
# Debian installs llvm-windres beside its other LLVM programs only.
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
find_program(TOLVANE_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 PATHS /usr/lib/llvm-14/bin REQUIRED)

set(TOLVANE_MINGW_HEADERS /usr/share/mingw-w64/include)
# msvcrt's own printf family, not mingw's replacement, which lives in a
# runtime library Debian does not have for these targets.
set(CMAKE_C_FLAGS_INIT "-isystem ${TOLVANE_MINGW_HEADERS} -D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
set(CMAKE_RC_FLAGS_INIT "--target=${TOLVANE_LLVM_MINGW_TRIPLE} -I${TOLVANE_MINGW_HEADERS}")
foreach(kind SHARED EXE MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-nostdlib -fuse-ld=lld")
endforeach()
# Only what each target names: there are no default system libraries here.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
# Without a runtime no test program links; the compiler checks build
# libraries instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(TOLVANE_NO_CXX_RUNTIME ON)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
