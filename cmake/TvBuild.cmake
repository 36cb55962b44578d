# Build rules shared by every component of the tree.

set(TV_WARNINGS -Wall -Wextra)

# Where `cmake --install` puts things: bin, lib, include (lib/x86_64-linux-gnu under /usr).
include(GNUInstallDirs)
# The exported headers install under one folder of their own, the include root of clients.
set(TV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/winclass)

if(WIN32)
  # The MinGW runtime DLLs go beside the programs so that Wine (and a Windows desk) find them.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                  OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  find_file(TV_WINPTHREAD_DLL libwinpthread-1.dll
            PATHS /usr/${TV_MINGW_PREFIX}/lib /usr/${TV_MINGW_PREFIX}/bin NO_DEFAULT_PATH)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set(TV_MINGW_RUNTIME_DLLS ${_stdcxx} ${_libgcc} ${TV_WINPTHREAD_DLL})
  foreach(dll ${TV_MINGW_RUNTIME_DLLS})
    if(EXISTS ${dll})
      file(COPY ${dll} DESTINATION ${CMAKE_BINARY_DIR}/bin)
    else()
      message(FATAL_ERROR "MinGW runtime DLL not found: ${dll}")
    endif()
  endforeach()
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
else()
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  set(CMAKE_C_VISIBILITY_PRESET hidden)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
  if(TV_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
  if(TV_TSAN)
    if(TV_SANITIZE)
      message(FATAL_ERROR "TV_TSAN and TV_SANITIZE cannot be combined: ThreadSanitizer excludes AddressSanitizer")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
  # Libraries find each other beside themselves, as DLLs do on Windows.
  set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
  set(CMAKE_BUILD_RPATH "\$ORIGIN")
  # Installed, the libraries sit together in lib and the programs in bin beside it.
  set(CMAKE_INSTALL_RPATH "\$ORIGIN;\$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

# tv_add_library(name SOURCES ... [DEPS ...] [WINLIBS ...] [DEFINE EXPORT_MACRO_SWITCH])
# A shared library of the tree: built as a DLL on Windows and a .so on Linux.
function(tv_add_library name)
  cmake_parse_arguments(A "" "EXPORT_DEFINE" "SOURCES;DEPS;WINLIBS;INCLUDES" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${TV_WARNINGS})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                             $<INSTALL_INTERFACE:${TV_INSTALL_INCLUDEDIR}>)
  if(A_EXPORT_DEFINE)
    target_compile_definitions(${name} PRIVATE ${A_EXPORT_DEFINE})
  endif()
  target_link_libraries(${name} PUBLIC tv_platform ${A_DEPS})
  if(WIN32)
    target_link_libraries(${name} PUBLIC ${A_WINLIBS})
  endif()
  tv_set_version(${name})
endfunction()

# The project's version on a shared library: libNAME.so.MAJOR.MINOR.PATCH with the soname
# libNAME.so.MAJOR on Linux. The DLLs carry theirs in a version resource instead.
function(tv_set_version name)
  if(NOT WIN32)
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endfunction()

# tv_add_version_resource(target DESCRIPTION text [PROGRAM])
# Windows: a VERSIONINFO resource for the target's DLL (or program), with the file and
# product version of the project and the description; nothing elsewhere.
function(tv_add_version_resource target)
  cmake_parse_arguments(A "PROGRAM" "DESCRIPTION" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(TV_RC_DESCRIPTION "${A_DESCRIPTION}")
  get_target_property(TV_RC_NAME ${target} OUTPUT_NAME)
  if(NOT TV_RC_NAME)
    set(TV_RC_NAME ${target})
  endif()
  if(A_PROGRAM)
    set(TV_RC_FILETYPE VFT_APP)
    set(TV_RC_FILENAME ${TV_RC_NAME}.exe)
  else()
    set(TV_RC_FILETYPE VFT_DLL)
    set(TV_RC_NAME ${CMAKE_SHARED_LIBRARY_PREFIX}${TV_RC_NAME})
    set(TV_RC_FILENAME ${TV_RC_NAME}${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/winclass.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
