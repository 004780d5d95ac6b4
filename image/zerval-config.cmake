# The zerval SDK's package file (lib/cmake/zerval/zerval-config.cmake): how a
# neighbour driver (a display, services or TV driver) is built for 32-bit
# Windows against the SDK, with mingw-w64 or in the MSVC dialect.  From a
# project configured with one of the SDK's toolchain files
# (share/zerval/toolchain-i686-mingw.cmake, toolchain-i686-clang-cl.cmake)
# and the SDK in CMAKE_PREFIX_PATH:
#
#   find_package(zerval 1.0 REQUIRED CONFIG)
#   zerval_driver(my_services OUTPUT kelv SOURCES kelv.c EXPORTS Attach@16)
#   zerval_driver(my_display OUTPUT mydisp SOURCES disp.c LIBS zerval ntoskrnl videoprt)
#
# Imported targets: zerval::headers (the SDK's headers and the DDK's) and
# zerval::zerval (zerval.sys's import library for the toolchain in use, with
# the headers).  The DDK's headers are found under the toolchain's root
# (mingw-w64's include/ddk), or named with -DZERVAL_DDK_INCLUDE=<folder>.
get_filename_component(ZERVAL_SDK_ROOT ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)

if(NOT (CMAKE_SYSTEM_NAME STREQUAL "Windows" AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  set(zerval_FOUND FALSE)
  set(zerval_NOT_FOUND_MESSAGE
    "zerval drivers are 32-bit Windows images: configure with -DCMAKE_TOOLCHAIN_FILE=${ZERVAL_SDK_ROOT}/share/zerval/toolchain-i686-mingw.cmake (or toolchain-i686-clang-cl.cmake)")
  return()
endif()

find_path(ZERVAL_DDK_INCLUDE ntddk.h PATHS / PATH_SUFFIXES include/ddk REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/zerval-driver-flags.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/zerval-def.cmake)

if(MSVC)
  # A kernel driver links no user-mode library: none of CMake's defaults
  # (kernel32.lib, user32.lib, ...) for the drivers of the directory that
  # found the kit.
  set(CMAKE_C_STANDARD_LIBRARIES "")
  set(CMAKE_CXX_STANDARD_LIBRARIES "")
endif()

if(NOT TARGET zerval::headers)
  add_library(zerval::headers INTERFACE IMPORTED)
  set(_zerval_includes ${ZERVAL_SDK_ROOT}/include ${ZERVAL_DDK_INCLUDE})
  if(MSVC)
    # The platform's headers beside the DDK's, which gcc finds by itself, and
    # what the DDK's headers test for the platform, which gcc predefines.
    get_filename_component(ZERVAL_WINDOWS_INCLUDE ${ZERVAL_DDK_INCLUDE} DIRECTORY)
    list(APPEND _zerval_includes ${ZERVAL_WINDOWS_INCLUDE})
    set_target_properties(zerval::headers PROPERTIES INTERFACE_COMPILE_DEFINITIONS "_X86_;i386")
  endif()
  if(MSVC AND CMAKE_C_COMPILER_ID STREQUAL "Clang")
    # First of all: what mingw-w64's DDK headers need to compile under
    # clang-cl (each header there says why).
    list(INSERT _zerval_includes 0 ${ZERVAL_SDK_ROOT}/include/zerval-msvc-shims)
  endif()
  set_target_properties(zerval::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_zerval_includes}")
  unset(_zerval_includes)
  add_library(zerval::zerval UNKNOWN IMPORTED)
  if(MSVC)
    set(ZERVAL_IMPORT_LIBRARY ${ZERVAL_SDK_ROOT}/lib/zerval.lib)
  else()
    set(ZERVAL_IMPORT_LIBRARY ${ZERVAL_SDK_ROOT}/lib/libzerval.a)
  endif()
  set_target_properties(zerval::zerval PROPERTIES
    IMPORTED_LOCATION ${ZERVAL_IMPORT_LIBRARY} INTERFACE_LINK_LIBRARIES zerval::headers)
endif()

# zerval_driver(TARGET OUTPUT name SOURCES... [EXPORTS f@n...] [DEF file]
#               [LIBS...] [STRICT]): name.sys from the sources, compiled and
# linked as the driver ABI needs (ZERVAL_DRIVER_FLAGS,
# ZERVAL_DRIVER_LINK_FLAGS); the language standard, optimisation and
# warnings stay the caller's, unless STRICT asks for this project's
# (ZERVAL_DRIVER_STRICT_FLAGS).  An export driver names its stdcall exports
# with their argument bytes (EXPORTS Attach@16 exports _Attach@16, in either
# dialect), or gives a definition file in its toolchain's syntax (DEF).  LIBS by name:
# zerval (zerval::zerval), or a kernel import library (ntoskrnl, videoprt,
# hal, or another of the toolchain's: _zerval_kernel_library).  In the MSVC
# dialect the kit's ntoskrnl.lib is linked whatever LIBS says: the
# compiler itself calls memcpy and memset, which ntoskrnl.exe exports, for
# structure copies and initialisations at every optimisation level.  A
# library nothing calls into adds no import.
function(zerval_driver target)
  cmake_parse_arguments(PARSE_ARGV 1 DRV "STRICT" "OUTPUT;DEF" "SOURCES;LIBS;EXPORTS")
  add_executable(${target} ${DRV_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${DRV_OUTPUT} SUFFIX .sys)
  target_link_libraries(${target} PRIVATE zerval::headers)
  target_compile_options(${target} PRIVATE ${ZERVAL_DRIVER_FLAGS})
  if(DRV_STRICT)
    target_compile_options(${target} PRIVATE ${ZERVAL_DRIVER_STRICT_FLAGS})
  endif()
  target_link_options(${target} PRIVATE ${ZERVAL_DRIVER_LINK_FLAGS})
  if(DRV_EXPORTS)
    if(MSVC)
      set(style msvc)
    else()
      set(style gnu-export)
    endif()
    set(DRV_DEF ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    zerval_write_def(${DRV_DEF} ${DRV_OUTPUT}.sys ${style} FUNCTIONS ${DRV_EXPORTS})
  endif()
  if(DRV_DEF)
    get_filename_component(def ${DRV_DEF} ABSOLUTE)
    if(MSVC)
      target_link_options(${target} PRIVATE /DEF:${def})
    else()
      target_link_options(${target} PRIVATE -shared ${def})
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
  endif()
  list(FIND DRV_LIBS ntoskrnl listed)
  if(MSVC AND listed EQUAL -1)
    list(APPEND DRV_LIBS ntoskrnl)
  endif()
  foreach(lib IN LISTS DRV_LIBS)
    if(lib STREQUAL "zerval")
      target_link_libraries(${target} PRIVATE zerval::zerval)
    else()
      _zerval_kernel_library(path ${target} ${lib})
      target_link_libraries(${target} PRIVATE ${path})
    endif()
  endforeach()
endfunction()

# _zerval_kernel_library(VAR TARGET NAME): the import library that LIBS NAME
# stands for.  In the MSVC dialect, the kit's own (lib/msvc/NAME.lib: ntoskrnl,
# videoprt and hal, made from mingw-w64's so that both dialects import the
# same names); else, and for any other name, the toolchain's: libNAME.a
# (mingw-w64's, which lld-link reads as well) or NAME.lib (a driver kit's).
function(_zerval_kernel_library var target name)
  if(MSVC AND EXISTS ${ZERVAL_SDK_ROOT}/lib/msvc/${name}.lib)
    set(${var} ${ZERVAL_SDK_ROOT}/lib/msvc/${name}.lib PARENT_SCOPE)
    return()
  endif()
  if(MSVC)
    set(CMAKE_FIND_LIBRARY_PREFIXES "" lib)
    set(CMAKE_FIND_LIBRARY_SUFFIXES .lib .a)
  endif()
  find_library(ZERVAL_LIB_${name} NAMES ${name} PATHS / PATH_SUFFIXES lib)
  if(NOT ZERVAL_LIB_${name})
    message(FATAL_ERROR "zerval_driver(${target}): LIBS ${name}: no import library lib${name}.a or ${name}.lib under the toolchain's root (${CMAKE_FIND_ROOT_PATH}/lib), nor in the kit")
  endif()
  set(${var} ${ZERVAL_LIB_${name}} PARENT_SCOPE)
endfunction()
