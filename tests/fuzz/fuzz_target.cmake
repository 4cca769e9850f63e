# orvane_fuzz_target(<name> SOURCES <files...> LIBS <targets...>)
# One libFuzzer program per parser of untrusted input, all collected by the `orvane_fuzz` target that
# the `fuzz` preset builds. The preset instruments the layers (-fsanitize=fuzzer-no-link with
# AddressSanitizer + UndefinedBehaviorSanitizer); here the program gets libFuzzer's main.
include_guard(GLOBAL)

function(orvane_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARGET orvane_fuzz)
    add_custom_target(orvane_fuzz)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  add_dependencies(orvane_fuzz ${name})
endfunction()

# Clang ignores the `#pragma GCC target(...)` that lets the image layer's AVX2 and AVX-512 files use
# those instructions (they are only called after a CPU check): give those files the same target on
# their command line instead.
file(GLOB avx2_sources CONFIGURE_DEPENDS ${ORVANE_SOURCE_ROOT}/src/image/*_avx2.cpp)
set_property(SOURCE ${avx2_sources} DIRECTORY ${ORVANE_SOURCE_ROOT}/src/image
             APPEND PROPERTY COMPILE_OPTIONS -mavx2 -Wno-unknown-pragmas)
file(GLOB avx512_sources CONFIGURE_DEPENDS ${ORVANE_SOURCE_ROOT}/src/image/*_avx512*.cpp)
set_property(SOURCE ${avx512_sources} DIRECTORY ${ORVANE_SOURCE_ROOT}/src/image
             APPEND PROPERTY COMPILE_OPTIONS -mavx512f -mavx512bw -mavx512vl -mavx512dq -mavx512vbmi -Wno-unknown-pragmas)
