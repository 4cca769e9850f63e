# cmake -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DCC= -DLIBDIR= [-DCCACHE=] -P check_linux_install.cmake
# Installs the Linux build into a fresh prefix, checks the files and the SONAME, then builds the
# installed C example out of tree with find_package and with pkg-config and runs both builds
# against the virtual camera.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/install_common.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(lib ${LIBDIR}/libOrvaneSdk_KD7_USB3_R5.so)
expect_files(${prefix} include/OrvaneSdk.h ${lib} ${lib}.2 ${lib}.2.10.5.21
  ${LIBDIR}/cmake/OrvaneSdk/OrvaneSdkConfig.cmake ${LIBDIR}/cmake/OrvaneSdk/OrvaneSdkConfigVersion.cmake
  ${LIBDIR}/pkgconfig/orvane-sdk.pc bin/orvane-tool share/orvane-sdk/examples/c/orvane_example.c
  share/orvane-sdk/examples/c/CMakeLists.txt)
if(EXISTS ${SOURCE_DIR}/packaging/udev/70-orvane-kd7.rules)
  expect_files(${prefix} lib/udev/rules.d/70-orvane-kd7.rules)
endif()
# The GStreamer plugin, when the build has one: in the plugin folder under the prefix, and GStreamer
# loads it from there (it finds the library one folder up).
if(EXISTS ${BUILD_DIR}/gst-plugins/libgstorvane.so)
  expect_files(${prefix} ${LIBDIR}/gstreamer-1.0/libgstorvane.so)
  set(ENV{GST_PLUGIN_PATH} ${prefix}/${LIBDIR}/gstreamer-1.0)
  set(ENV{GST_REGISTRY} ${WORK_DIR}/gst-registry.bin)
  run(gst-launch-1.0 -q orvanesrc num-buffers=3 sub-sample=true ! fakesink)
endif()
# The link names point at the versioned file, whose SONAME carries the major version.
foreach(link ${lib} ${lib}.2)
  if(NOT IS_SYMLINK ${prefix}/${link})
    message(FATAL_ERROR "${link} is not a symbolic link")
  endif()
endforeach()
run(objdump -p ${prefix}/${lib}.2.10.5.21)
if(NOT run_output MATCHES "SONAME +libOrvaneSdk_KD7_USB3_R5\\.so\\.2\n")
  message(FATAL_ERROR "no SONAME libOrvaneSdk_KD7_USB3_R5.so.2:\n${run_output}")
endif()

# 1. CMake: find_package(OrvaneSdk) from the installed package (a version request of 2.10).
run(${CMAKE_COMMAND} -S ${example_dir} -B ${WORK_DIR}/with-cmake -G Ninja -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC} ${launcher})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/with-cmake)
run(${WORK_DIR}/with-cmake/orvane_example ${WORK_DIR}/cmake-snapshot.bmp 5)
expect_bitmap(${WORK_DIR}/cmake-snapshot.bmp)

# 2. pkg-config: the flags of orvane-sdk.pc on a plain compiler line, as a Makefile would use them.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(pkg-config --modversion orvane-sdk)
string(STRIP "${run_output}" version)
if(NOT version STREQUAL "2.10.5.21")
  message(FATAL_ERROR "pkg-config reports version '${version}'")
endif()
run(pkg-config --cflags --libs orvane-sdk)
separate_arguments(flags UNIX_COMMAND "${run_output}")
set(compile ${CC} -std=c99 -Wall -Wextra -Werror -o ${WORK_DIR}/pkg-config-example ${example_dir}/orvane_example.c ${flags})
if(CCACHE)
  list(PREPEND compile ${CCACHE})
endif()
run(${compile})
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/pkg-config-example ${WORK_DIR}/pkg-config-snapshot.bmp 5)
expect_bitmap(${WORK_DIR}/pkg-config-snapshot.bmp)
message(STATUS "installed into ${prefix}; the C example built with find_package and with pkg-config ran")
