# Cross-compiles zelt for 64-bit Windows with Debian's MinGW-w64 (posix
# thread model, so std::thread and std::mutex are available). The MinGW
# runtime is linked statically: the DLLs and executables need no DLL beyond
# the system's own. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Header-only packages (nlohmann-json, CLI11) are found on the host too.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(ZELT_WINE wine)
if(ZELT_WINE)
  # Through a launcher that keeps ctest's pipe away from Wine's own services
  # (the script says why).
  get_filename_component(ZELT_WINE_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/../../scripts/run-under-wine.sh ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELT_WINE_LAUNCHER} ${ZELT_WINE})
endif()
