# The zerval SDK's package file (lib/cmake/zerval/zerval-config.cmake): how a
# neighbour driver (a display, services or TV driver) is cross-built for
# 32-bit Windows with mingw-w64 against the SDK.  From a project configured
# with a mingw-w64 i686 toolchain file and the SDK in CMAKE_PREFIX_PATH:
#
#   find_package(zerval REQUIRED CONFIG)
#   zerval_driver(my_driver OUTPUT kelv SOURCES kelv.c DEF kelv.def)
#   zerval_driver(my_display OUTPUT mydisp SOURCES disp.c LIBS zerval videoprt)
#
# The DDK's headers are found under the toolchain's root (mingw-w64's
# include/ddk), or named with -DZERVAL_DDK_INCLUDE=<folder>.
get_filename_component(ZERVAL_SDK_ROOT ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)
find_path(ZERVAL_DDK_INCLUDE ntddk.h PATHS / PATH_SUFFIXES include/ddk REQUIRED)

include(${CMAKE_CURRENT_LIST_DIR}/zerval-driver-flags.cmake)

# zerval_driver(TARGET OUTPUT name SOURCES... [DEF exports.def] [LIBS...]):
# name.sys from the sources; with DEF, an export driver exporting what the
# definition file lists; LIBS by name (zerval: the SDK's import library,
# ntoskrnl and videoprt: the toolchain's).
function(zerval_driver target)
  cmake_parse_arguments(PARSE_ARGV 1 DRV "" "OUTPUT;DEF" "SOURCES;LIBS")
  add_executable(${target} ${DRV_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${DRV_OUTPUT} SUFFIX .sys)
  target_include_directories(${target} PRIVATE ${ZERVAL_SDK_ROOT}/include)
  target_include_directories(${target} SYSTEM PRIVATE ${ZERVAL_DDK_INCLUDE})
  target_compile_options(${target} PRIVATE ${ZERVAL_DRIVER_FLAGS})
  target_link_options(${target} PRIVATE ${ZERVAL_DRIVER_LINK_FLAGS})
  if(DRV_DEF)
    get_filename_component(def ${DRV_DEF} ABSOLUTE)
    target_link_options(${target} PRIVATE -shared ${def})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
  endif()
  foreach(lib IN LISTS DRV_LIBS)
    if(lib STREQUAL "zerval")
      target_link_libraries(${target} PRIVATE ${ZERVAL_SDK_ROOT}/lib/libzerval.a)
    else()
      target_link_libraries(${target} PRIVATE ${lib})
    endif()
  endforeach()
endfunction()
