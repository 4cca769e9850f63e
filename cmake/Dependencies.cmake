# The image libraries: Debian's -dev packages on Linux; on Windows static builds of the same upstream
# versions, cross-built by scripts/build-windows-deps into a cache outside the source tree.
find_package(Threads REQUIRED)

add_library(orvane_image_libs INTERFACE)
if(WIN32)
  set(ORVANE_WIN_DEPS "$ENV{ORVANE_WIN_DEPS}" CACHE PATH "Prefix of the cross-built static image libraries")
  if(NOT EXISTS "${ORVANE_WIN_DEPS}/lib/libjpeg.a")
    message(FATAL_ERROR "ORVANE_WIN_DEPS (${ORVANE_WIN_DEPS}) holds no cross-built libraries; run scripts/build-windows-deps")
  endif()
  find_library(ORVANE_MINGW_ZLIB NAMES libz.a REQUIRED)
  target_include_directories(orvane_image_libs INTERFACE ${ORVANE_WIN_DEPS}/include)
  # libtiff before zlib: static link order.
  target_link_libraries(orvane_image_libs INTERFACE
    ${ORVANE_WIN_DEPS}/lib/libtiff.a
    ${ORVANE_WIN_DEPS}/lib/libpng16.a
    ${ORVANE_WIN_DEPS}/lib/libjpeg.a
    ${ORVANE_MINGW_ZLIB})
else()
  find_package(JPEG REQUIRED)
  find_package(PNG REQUIRED)
  find_package(TIFF REQUIRED)
  find_package(ZLIB REQUIRED)
  target_link_libraries(orvane_image_libs INTERFACE TIFF::TIFF PNG::PNG JPEG::JPEG ZLIB::ZLIB)
endif()

if(ORVANE_BUILD_TESTS)
  if(WIN32)
    # Debian ships GoogleTest as source; cross-compile it for the Windows test programs.
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest 1.12 defines the GTest:: aliases itself; older sources do not.
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
