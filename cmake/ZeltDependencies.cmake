# Header-only third-party libraries (nlohmann-json, CLI11) as INTERFACE
# targets zelt::json and zelt::cli11. They come from the host's Debian
# packages. A cross build must not add the host's /usr/include to its include
# path (it would shadow the target's C library), so there the headers are
# staged into the build tree and used from there.
function(zelt_header_only_dependency target marker_header header_dir)
  find_path(${target}_INCLUDE_DIR ${marker_header} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_INCLUDE_DIR)
    message(FATAL_ERROR "${marker_header} not found: install its Debian package (scripts/install-deps.sh)")
  endif()
  set(include_dir ${${target}_INCLUDE_DIR})
  if(CMAKE_CROSSCOMPILING)
    set(staged ${CMAKE_BINARY_DIR}/staged-headers)
    file(COPY ${include_dir}/${header_dir} DESTINATION ${staged})
    set(include_dir ${staged})
  endif()
  add_library(zelt_${target} INTERFACE)
  add_library(zelt::${target} ALIAS zelt_${target})
  target_include_directories(zelt_${target} SYSTEM INTERFACE $<BUILD_INTERFACE:${include_dir}>)
endfunction()

zelt_header_only_dependency(json nlohmann/json.hpp nlohmann)
zelt_header_only_dependency(cli11 CLI/CLI.hpp CLI)
