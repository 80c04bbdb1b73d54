# Installation: the library, its header, the host program, a pkg-config file
# and a CMake package so that find_package(TolvaneWAVTimeStretch) works.
include(CMakePackageConfigHelpers)

set(TOLVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TolvaneWAVTimeStretch)

install(TARGETS TolvaneWAVTimeStretch
  EXPORT TolvaneWAVTimeStretchTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS tolvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT TolvaneWAVTimeStretchTargets
  NAMESPACE TolvaneWAVTimeStretch::
  DESTINATION ${TOLVANE_CMAKE_DIR})

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
  DESTINATION ${TOLVANE_CMAKE_DIR})

if(NOT WIN32)
  file(RELATIVE_PATH TOLVANE_PC_TO_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/TolvaneWAVTimeStretch.pc.in
    ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretch.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/TolvaneWAVTimeStretch.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
