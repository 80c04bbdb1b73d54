# Debian packages, made by CPack's DEB generator (scripts/package), one per
# install component:
#   libtolvanewavtimestretch1     runtime      the shared library, named after its SONAME
#   libtolvanewavtimestretch-dev  development  header, .so link, pkg-config file, CMake package
#   tolvane                       tool         the program and its manual page
# The Debian layout (prefix /usr, no RUNPATH, the packages' documents) comes
# from the "deb" preset, which turns TOLVANE_DEBIAN_PACKAGES on.
option(TOLVANE_DEBIAN_PACKAGES "Install the Debian packages' copyright and changelog files" OFF)
set(TOLVANE_DEB_MAINTAINER "TolvaneWAVTimeStretch maintainers <maintainers@tolvane.example>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(tolvane_deb_runtime libtolvanewavtimestretch${PROJECT_VERSION_MAJOR})
set(tolvane_deb_development libtolvanewavtimestretch-dev)
set(tolvane_deb_tool tolvane)

if(TOLVANE_DEBIAN_PACKAGES)
  # Every package carries the copyright file and a compressed changelog in
  # /usr/share/doc/<package>/.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND ${TOLVANE_GZIP} -9nkf changelog
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian
    VERBATIM)
  add_custom_target(tolvane_deb_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  foreach(component IN ITEMS runtime development tool)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${tolvane_deb_${component}}
      COMPONENT ${component})
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvanewavtimestretch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TolvaneWAVTimeStretch")
set(CPACK_PACKAGE_CONTACT "${TOLVANE_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_CROSSCOMPILING)
  # The target's architecture, not the build machine's (CPack would ask dpkg
  # for that), named by Debian after the cross compiler's triplet.
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -q DEB_HOST_ARCH
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE tolvane_deb_arch_result ERROR_QUIET)
  if(TOLVANE_DEBIAN_PACKAGES AND (NOT tolvane_deb_arch_result EQUAL 0 OR NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE))
    message(FATAL_ERROR "dpkg-architecture (dpkg-dev) names no Debian architecture for ${CMAKE_LIBRARY_ARCHITECTURE}")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on system libraries from dpkg-shlibdeps; on the library
# package from the components' own dependencies, at exactly this version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds the library the program links, which no
# installed package provides, and in a cross build the target's libraries
# (the toolchain file's root, which holds their symbols files).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src ${TOLVANE_CROSS_LIBRARY_DIRS})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The library package's shlibs file. The linker cache is brought up to date
# by an ldconfig trigger; CPack would call ldconfig from maintainer scripts
# of its own unless the package brings its own, which do nothing.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/triggers
  ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
  ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${tolvane_deb_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library loads ALSA when a recording starts and converts without it:
# only recording needs it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS libasound2)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${tolvane_deb_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${tolvane_deb_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)

include(CPack)

cpack_add_component(runtime
  DISPLAY_NAME "shared library"
  DESCRIPTION "time-stretch and record 16-bit mono PCM WAV files (library)
TolvaneWAVTimeStretch converts WAV files taken to be 8000 samples per second
into files labelled 1600 samples per second, keeping every fifth sample of
each 4096-sample block, and records the default audio input (ALSA, loaded
when a recording starts) at 8000 samples per second, 16-bit, mono, into WAV
files in whole one-second blocks. Its plain C interface has three functions,
and it needs nothing but the C library.
.
This package contains the shared library.")
cpack_add_component(development
  DISPLAY_NAME "development files"
  DEPENDS runtime
  DESCRIPTION "time-stretch and record 16-bit mono PCM WAV files (development files)
TolvaneWAVTimeStretch converts WAV files taken to be 8000 samples per second
into files labelled 1600 samples per second and records the default audio
input into WAV files, through a plain C interface of three functions.
.
This package contains the header, the link to the shared library, a
pkg-config file and a CMake package (find_package(TolvaneWAVTimeStretch)).")
cpack_add_component(tool
  DISPLAY_NAME "tolvane program"
  DEPENDS runtime
  DESCRIPTION "convert 8000 Hz WAV files to 1600 Hz and record them
The tolvane program converts 16-bit mono WAV files taken to be 8000 samples
per second into files labelled 1600 samples per second (tolvane stretch), and
records the default audio input at 8000 samples per second into such files
(tolvane record), showing the saved seconds, a peak level meter and clipping
while it records.
.
It is the command-line host of the TolvaneWAVTimeStretch library.")
