# Installs the headers of zelt, orvane and obd, the two libraries and a
# package config: a consumer writes find_package(zelt CONFIG REQUIRED) and
# links zelt::zelt (and zelt::obdcore for the core's roots, zelt::link for
# the transports to a real adapter).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS zelt obd_core orvane zelt_link
  EXPORT zeltTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/libzelt/include/
    ${PROJECT_SOURCE_DIR}/framework/include/
    ${PROJECT_SOURCE_DIR}/core/include/
    ${PROJECT_SOURCE_DIR}/link/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZELT_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelt)
install(EXPORT zeltTargets
  NAMESPACE zelt::
  DESTINATION ${ZELT_CONFIG_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/zeltConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zeltConfig.cmake
  INSTALL_DESTINATION ${ZELT_CONFIG_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/zeltConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/zeltConfig.cmake
    ${PROJECT_BINARY_DIR}/zeltConfigVersion.cmake
  DESTINATION ${ZELT_CONFIG_DIR})
