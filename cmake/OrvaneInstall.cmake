# What `cmake --install` puts under the prefix: the library (a versioned SONAME on Linux; on Windows
# the DLL with its version resource, the mingw import library and an MSVC one made from the .def),
# the public headers, a CMake package (OrvaneSdk::OrvaneSdk), a pkg-config file, orvane-tool, the
# plain C example's sources, and the udev rule of the Linux USB backend when the tree has one.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVANE_SOVERSION ${PROJECT_VERSION_MAJOR})
set(packaging ${ORVANE_SOURCE_ROOT}/packaging)
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/OrvaneSdk)

target_include_directories(OrvaneSdk INTERFACE
  $<BUILD_INTERFACE:${ORVANE_SOURCE_ROOT}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

if(WIN32)
  # VERSIONINFO: 2.10.5.21, the numbers Orvane_GetDllVersion packs into 0x02100521.
  string(REPLACE "." "," ORVANE_VERSION_COMMAS ${PROJECT_VERSION})
  configure_file(${packaging}/windows/version.rc.in ${CMAKE_BINARY_DIR}/packaging/version.rc @ONLY)
  target_sources(OrvaneSdk PRIVATE ${CMAKE_BINARY_DIR}/packaging/version.rc)
  set_source_files_properties(${CMAKE_BINARY_DIR}/packaging/version.rc PROPERTIES COMPILE_OPTIONS "-c65001")

  # The MSVC import library, built from the same .def as the DLL's export table.
  find_program(ORVANE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  set(ORVANE_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/lib/${ORVANE_DLL_NAME}.lib)
  add_custom_command(OUTPUT ${ORVANE_MSVC_IMPLIB}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
    COMMAND ${ORVANE_LLVM_DLLTOOL} -m i386:x86-64 -d ${ORVANE_SOURCE_ROOT}/src/api/orvane_sdk.def
            -D ${ORVANE_DLL_NAME}.dll -l ${ORVANE_MSVC_IMPLIB}
    DEPENDS ${ORVANE_SOURCE_ROOT}/src/api/orvane_sdk.def
    COMMENT "MSVC import library ${ORVANE_DLL_NAME}.lib")
  add_custom_target(orvane_msvc_implib ALL DEPENDS ${ORVANE_MSVC_IMPLIB})
  install(FILES ${ORVANE_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  # libX.so.2.10.5.21, with the SONAME libX.so.2 and the link name libX.so beside it.
  set_target_properties(OrvaneSdk PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ORVANE_SOVERSION})
  set(udev_rule ${packaging}/udev/70-orvane-kd7.rules)
  if(EXISTS ${udev_rule})
    install(FILES ${udev_rule} DESTINATION lib/udev/rules.d)
  endif()
endif()

install(TARGETS OrvaneSdk
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
file(GLOB public_headers ${ORVANE_SOURCE_ROOT}/include/*.h)
install(FILES ${public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET orvane-tool)
  install(TARGETS orvane-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${ORVANE_SOURCE_ROOT}/examples/c/orvane_example.c ${ORVANE_SOURCE_ROOT}/examples/c/CMakeLists.txt
  DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-sdk/examples/c)

configure_package_config_file(${packaging}/cmake/OrvaneSdkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/OrvaneSdkConfig.cmake
  INSTALL_DESTINATION ${config_dir}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/OrvaneSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/OrvaneSdkConfig.cmake
  ${CMAKE_BINARY_DIR}/packaging/OrvaneSdkConfigVersion.cmake DESTINATION ${config_dir})

# The pkg-config file finds the prefix from its own folder, so the installed tree can move.
file(RELATIVE_PATH ORVANE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ORVANE_PC_TO_PREFIX "${ORVANE_PC_TO_PREFIX}")
configure_file(${packaging}/pkgconfig/orvane-sdk.pc.in ${CMAKE_BINARY_DIR}/packaging/orvane-sdk.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvane-sdk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
