# Installation: the library, its header, the host program and its manual
# page, a pkg-config file and a CMake package so that
# find_package(TolvaneWAVTimeStretch) works. Each file belongs to one of three
# components, which are also the Debian packages (TolvanePackage.cmake):
# runtime (the shared library), development (what building against it needs)
# and tool (the program).
include(CMakePackageConfigHelpers)

set(TOLVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TolvaneWAVTimeStretch)

install(TARGETS TolvaneWAVTimeStretch
  EXPORT TolvaneWAVTimeStretchTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

if(TARGET tolvane)
  install(TARGETS tolvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/cli/tolvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()

install(EXPORT TolvaneWAVTimeStretchTargets
  NAMESPACE TolvaneWAVTimeStretch::
  DESTINATION ${TOLVANE_CMAKE_DIR}
  COMPONENT development)

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/TolvaneWAVTimeStretchConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretchConfig.cmake
  INSTALL_DESTINATION ${TOLVANE_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretchConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretchConfig.cmake
  ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretchConfigVersion.cmake
  DESTINATION ${TOLVANE_CMAKE_DIR}
  COMPONENT development)

if(NOT WIN32)
  file(RELATIVE_PATH TOLVANE_PC_TO_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/TolvaneWAVTimeStretch.pc.in
    ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretch.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretch.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endif()
