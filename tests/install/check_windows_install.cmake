# cmake -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DCC= -DLIBDIR= [-DCCACHE=] -P check_windows_install.cmake
# Installs the Windows build into a fresh prefix, checks the files, builds the installed C example
# with mingw against the prefix's header and import library and runs it under wine next to the DLL.
# Runs on the build host; the wine prefix and display are those the test run was given.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/install_common.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
expect_files(${prefix} include/OrvaneSdk.h bin/OrvaneSdk_KD7_USB3_R5.dll bin/orvane-tool.exe
  ${LIBDIR}/libOrvaneSdk_KD7_USB3_R5.dll.a ${LIBDIR}/OrvaneSdk_KD7_USB3_R5.lib
  ${LIBDIR}/cmake/OrvaneSdk/OrvaneSdkConfig.cmake ${LIBDIR}/cmake/OrvaneSdk/OrvaneSdkConfigVersion.cmake
  ${LIBDIR}/pkgconfig/orvane-sdk.pc share/orvane-sdk/examples/c/orvane_example.c)

set(compile ${CC} -std=c99 -Wall -Wextra -Werror -I${prefix}/include -o ${prefix}/bin/orvane_example.exe
  ${example_dir}/orvane_example.c -L${prefix}/${LIBDIR} -lOrvaneSdk_KD7_USB3_R5)
if(CCACHE)
  list(PREPEND compile ${CCACHE})
endif()
run(${compile})
execute_process(COMMAND ${SOURCE_DIR}/scripts/wine-run orvane_example.exe snapshot.bmp 5
  WORKING_DIRECTORY ${prefix}/bin RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "orvane_example.exe under wine exited with ${rc}:\n${out}\n${err}")
endif()
expect_bitmap(${prefix}/bin/snapshot.bmp)
message(STATUS "${out}")
