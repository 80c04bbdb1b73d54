# Applies TOLVANE_SANITIZE to everything built after this point.
if(TOLVANE_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "TOLVANE_SANITIZE needs GCC or Clang")
  endif()
  add_compile_options(-fsanitize=${TOLVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TOLVANE_SANITIZE})
endif()

# The libFuzzer targets (tests/fuzz): everything is compiled with coverage
# for the fuzzer, and only the fuzz targets link its driver.
option(TOLVANE_FUZZ "Build the libFuzzer targets (Clang only)" OFF)
if(TOLVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TOLVANE_FUZZ needs Clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
