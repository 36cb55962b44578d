# cmake --install for both platforms:
#   bin/      the winclass command; on Windows the DLLs and the MinGW runtime DLLs too
#   lib/      the shared libraries (Linux: the simulated platform libwinsim among them, so
#             the installed library runs), the import libraries (Windows)
#   include/winclass/   the exported headers and what they include
#   lib/cmake/winclass/ the CMake package: find_package(winclass CONFIG) gives
#             winclass::winclass (the library, with liblocal's messages)
#   lib/pkgconfig/winclass.pc
include(CMakePackageConfigHelpers)

set(TV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/winclass)

# The libraries a client links, and what they link in turn.
set(tv_exported_targets winclass local tlv vssrequester tv_platform)
if(WIN32)
  list(APPEND tv_exported_targets tv_comsupp)
else()
  list(APPEND tv_exported_targets winsim)
endif()
install(TARGETS ${tv_exported_targets}
        EXPORT winclassTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS winclass_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES ${TV_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The exported headers: the library's top-level headers, the runtime's (messages, lists,
# logs) they name, the platform header, the generated version header, and on Linux the
# simulated platform's Windows headers that the platform header includes.
file(GLOB tv_winclass_headers ${PROJECT_SOURCE_DIR}/libwinclass/*.h)
file(GLOB tv_local_headers ${PROJECT_SOURCE_DIR}/liblocal/*.h)
# Device helpers of the library's own sources, not part of the interface.
list(REMOVE_ITEM tv_local_headers ${PROJECT_SOURCE_DIR}/liblocal/vodevices.h)
install(FILES ${tv_winclass_headers} ${CMAKE_BINARY_DIR}/include/libwinclass/version.h
        DESTINATION ${TV_INSTALL_INCLUDEDIR}/libwinclass)
install(FILES ${tv_local_headers} DESTINATION ${TV_INSTALL_INCLUDEDIR}/liblocal)
install(FILES ${PROJECT_SOURCE_DIR}/platform/tvplatform.h DESTINATION ${TV_INSTALL_INCLUDEDIR}/platform)
if(NOT WIN32)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/winsim/include/ DESTINATION ${TV_INSTALL_INCLUDEDIR}/winsim
          FILES_MATCHING PATTERN "*.h")
endif()

# The CMake package.
install(EXPORT winclassTargets NAMESPACE winclass:: DESTINATION ${TV_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/winclassConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/winclassConfig.cmake
                              INSTALL_DESTINATION ${TV_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/winclassConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/winclassConfig.cmake
              ${CMAKE_BINARY_DIR}/package/winclassConfigVersion.cmake
        DESTINATION ${TV_PACKAGE_DIR})

# The pkg-config file; its paths are found from where it lies, so the tree can move.
if(WIN32)
  set(TV_PC_CFLAGS "-I\${includedir}/winclass")
  set(TV_PC_LIBS_PRIVATE "-lole32 -loleaut32 -luuid -lrpcrt4")
else()
  set(TV_PC_CFLAGS "-I\${includedir}/winclass -I\${includedir}/winclass/winsim")
  set(TV_PC_LIBS_PRIVATE "")
endif()
file(RELATIVE_PATH TV_PC_PREFIX_FROM_PCDIR ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TV_PC_PREFIX_FROM_PCDIR "${TV_PC_PREFIX_FROM_PCDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/winclass.pc.in ${CMAKE_BINARY_DIR}/package/winclass.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/winclass.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
