# Installs the five libraries (orvane, the core obdcore, zelt, zelt_link and
# the application library zelt_app), their headers, a CMake package and a
# pkg-config file for each: a consumer writes find_package(zelt CONFIG
# REQUIRED) and links zelt::zelt (and zelt::obdcore for the core's roots,
# zelt::link for the transports to a real adapter, zelt::app -- the
# component `app` -- for the session, scan and reports every front end
# shares), or asks pkg-config for zelt (and zelt_link, zelt_app).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS zelt obd_core orvane zelt_link zelt_app
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
    ${PROJECT_SOURCE_DIR}/app/include/
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

# pkg-config: one file per library, each naming the libraries below it, so
# `pkg-config --libs zelt_link` gives all an application links. A file finds
# the install tree from its own place (${pcfiledir}), so the tree may be
# moved or installed with --prefix.
set(ZELT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ZELT_PKGCONFIG_TO_PREFIX /${ZELT_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" ZELT_PKGCONFIG_TO_PREFIX "${ZELT_PKGCONFIG_TO_PREFIX}")
function(zelt_install_pkgconfig name description requires library define)
  set(ZELT_PC_NAME ${name})
  set(ZELT_PC_DESCRIPTION ${description})
  # The libraries below, of this very version.
  set(ZELT_PC_REQUIRES "")
  foreach(required IN LISTS requires)
    list(APPEND ZELT_PC_REQUIRES "${required} = ${PROJECT_VERSION}")
  endforeach()
  list(JOIN ZELT_PC_REQUIRES ", " ZELT_PC_REQUIRES)
  set(ZELT_PC_LIBS "")
  set(ZELT_PC_CFLAGS "")
  if(library)
    set(ZELT_PC_LIBS " -L\${libdir} -l${library}")
  endif()
  if(define)
    # Windows: the headers then import the library's names from its DLL.
    set(ZELT_PC_CFLAGS " -D${define}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${PROJECT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${name}.pc DESTINATION ${ZELT_PKGCONFIG_DIR})
endfunction()
zelt_install_pkgconfig(orvane "The zelt framework: observer base, notifier, mutex" "" "" "")
zelt_install_pkgconfig(obdcore "The OBD core: interfaces, simulated vehicle, ELM327 adapter root"
  orvane obdcore OBD_SHARED)
zelt_install_pkgconfig(zelt "${PROJECT_DESCRIPTION}" "obdcore;orvane" zelt ZELT_SHARED)
zelt_install_pkgconfig(zelt_link "Transports to OBD adapters (TCP, serial) and the byte pump"
  zelt zelt_link ZELT_LINK_SHARED)
# zelt_app's headers also use nlohmann-json's (header only; Debian's
# nlohmann-json3-dev puts them on the default include path).
zelt_install_pkgconfig(zelt_app "The application layer: session, scan, readings, reports, units, watch"
  "zelt_link;zelt;obdcore" zelt_app ZELT_APP_SHARED)

# Installed binaries find the libraries beside them or in ../lib, wherever
# the tree lands (Windows finds the DLLs next to the executables in bin).
if(NOT WIN32 AND NOT APPLE)
  file(RELATIVE_PATH ZELT_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(zelt obd_core zelt_link zelt_app PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

# The command-line tools zelt-scan and elm327-emulator. They are defined
# after this file is read (tools/ comes later), so their install rule runs
# once the top-level directory is complete.
function(zelt_install_tools)
  foreach(tool IN ITEMS zelt-scan elm327-emulator)
    if(TARGET ${tool})
      if(NOT WIN32 AND NOT APPLE)
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${ZELT_BIN_TO_LIB}")
      endif()
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL zelt_install_tools)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/zelt)

# The trouble code titles, under their own licence (GPL-2.0-or-later), with
# the text that says so beside them; the core looks for them here (see
# core/CMakeLists.txt).
install(FILES
    ${PROJECT_SOURCE_DIR}/data/trouble-codes/generic-trouble-codes.tsv
    ${PROJECT_SOURCE_DIR}/data/trouble-codes/COPYING
    ${PROJECT_SOURCE_DIR}/data/trouble-codes/GPL-2
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zelt)

# A Debian package of everything installed above (libraries, headers, CMake
# and pkg-config files, tools, the Python module): `cpack -G DEB` in the
# build folder writes zelt_VERSION_ARCH.deb, installed with
# `apt install ./zelt_*.deb`. Under /usr the Python module goes where
# Debian's python3 looks (configure with
# -DZELT_PYTHON_INSTALL_DIR=lib/python3/dist-packages for the package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelt)
set(CPACK_PACKAGE_VENDOR "The zelt developers")
set(CPACK_PACKAGE_CONTACT "The zelt developers <zelt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The C++ runtime; the tools' libraries where they were built with them.
# Decided once every target exists (tools/ comes after this file).
function(zelt_package_depends)
  set(depends "libc6, libstdc++6, libgcc-s1")
  if(TARGET zelt_publish)
    string(APPEND depends ", libmosquitto1")
  endif()
  if(TARGET zelt_serve)
    # Debian names cpp-httplib's library package after its version.
    execute_process(COMMAND dpkg-query -W -f=\${Package} "libcpp-httplib[0-9]*"
                    OUTPUT_VARIABLE httplib OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(httplib)
      string(APPEND depends ", ${httplib}")
    endif()
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
  # The Python module's interpreter, and the headers zelt_app's use.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, nlohmann-json3-dev")
  include(CPack)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL zelt_package_depends)
