# Per-target helpers: warnings and sanitizers are applied to our own targets
# only, never globally, so third-party code keeps its own flags.

function(zelt_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      target_compile_options(${target} PRIVATE -Wthread-safety)
    endif()
  endif()
  if(ZELT_WERROR)
    target_compile_options(${target} PRIVATE $<IF:$<CXX_COMPILER_ID:MSVC>,/WX,-Werror>)
  endif()
endfunction()

# Sanitizers must cover every object of a process (a race between a library
# and a test is only seen when both are instrumented), so they apply globally.
# Fuzzing needs the same: libFuzzer is guided by the coverage of the shared
# libraries under test, so every object gets the coverage instrumentation
# (fuzzer-no-link); only the fuzzer executables link libFuzzer itself.
macro(zelt_enable_sanitizers)
  if(ZELT_SANITIZE)
    add_compile_options(-fsanitize=${ZELT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
    add_link_options(-fsanitize=${ZELT_SANITIZE})
  endif()
  if(ZELT_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      message(FATAL_ERROR "ZELT_BUILD_FUZZERS needs clang (libFuzzer); configure with CMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_link_options(-fsanitize=fuzzer-no-link)
  endif()
endmacro()
