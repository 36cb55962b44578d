# Build rules shared by every component of the tree.

set(TV_WARNINGS -Wall -Wextra)

if(WIN32)
  # The MinGW runtime DLLs go beside the programs so that Wine (and a Windows desk) find them.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                  OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  find_file(TV_WINPTHREAD_DLL libwinpthread-1.dll
            PATHS /usr/${TV_MINGW_PREFIX}/lib /usr/${TV_MINGW_PREFIX}/bin NO_DEFAULT_PATH)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  foreach(dll ${_stdcxx} ${_libgcc} ${TV_WINPTHREAD_DLL})
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
  # Libraries find each other beside themselves, as DLLs do on Windows.
  set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
  set(CMAKE_BUILD_RPATH "\$ORIGIN")
endif()

# tv_add_library(name SOURCES ... [DEPS ...] [WINLIBS ...] [DEFINE EXPORT_MACRO_SWITCH])
# A shared library of the tree: built as a DLL on Windows and a .so on Linux.
function(tv_add_library name)
  cmake_parse_arguments(A "" "EXPORT_DEFINE" "SOURCES;DEPS;WINLIBS;INCLUDES" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${TV_WARNINGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${A_INCLUDES})
  if(A_EXPORT_DEFINE)
    target_compile_definitions(${name} PRIVATE ${A_EXPORT_DEFINE})
  endif()
  target_link_libraries(${name} PUBLIC tv_platform ${A_DEPS})
  if(WIN32)
    target_link_libraries(${name} PUBLIC ${A_WINLIBS})
  endif()
endfunction()
