# Included by the top-level (host) project: the driver image in both compiler
# dialects, each an external project of image/ with its own toolchain:
# GNU (mingw-w64 gcc and ld) into build/image-gnu, MSVC (clang-cl and
# lld-link) into build/image-msvc.  Both install into build/sdk, the SDK that
# neighbour drivers are built from (zerval_add_sdk_drivers) and that
# `cmake --install` copies.
include(ExternalProject)
set(ZERVAL_IMAGE_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})

# zerval_add_image(TARGET DIR TOOLCHAIN [DEPENDS...]), with ZERVAL_IMAGE_ARGS
# as further configure arguments.
function(zerval_add_image target dir toolchain)
  ExternalProject_Add(${target}
    SOURCE_DIR ${ZERVAL_IMAGE_SOURCE_DIR}
    BINARY_DIR ${dir}
    INSTALL_DIR ${ZERVAL_SDK_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${ZERVAL_IMAGE_SOURCE_DIR}/${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
      -DZERVAL_PE_FINISH=$<TARGET_FILE:pe-finish>
      -DZERVAL_BIOSDLL_CHECK=$<TARGET_FILE:biosdll-check>
      -DZERVAL_VERSION=${PROJECT_VERSION}
      ${ZERVAL_IMAGE_ARGS}
    BUILD_ALWAYS ON
    DEPENDS pe-finish biosdll-check ${ARGN})
endfunction()

set(ZERVAL_SDK_DIR ${CMAKE_BINARY_DIR}/sdk)
set(ZERVAL_IMAGE_DIR ${CMAKE_BINARY_DIR}/image-gnu)
set(ZERVAL_IMAGE ${ZERVAL_IMAGE_DIR}/zerval.sys)
set(ZERVAL_IMAGE_MSVC_DIR ${CMAKE_BINARY_DIR}/image-msvc)
set(ZERVAL_IMAGE_MSVC ${ZERVAL_IMAGE_MSVC_DIR}/zerval.sys)
zerval_add_image(zerval_image ${ZERVAL_IMAGE_DIR} toolchain-i686-mingw.cmake)
# After the GNU image: its example display driver is linked against both
# import libraries.
set(ZERVAL_IMAGE_ARGS -DZERVAL_OTHER_IMPORT_LIBRARY=${ZERVAL_IMAGE_DIR}/libzerval.a)
zerval_add_image(zerval_image_msvc ${ZERVAL_IMAGE_MSVC_DIR} toolchain-i686-clang-cl.cmake zerval_image)
install(DIRECTORY ${ZERVAL_SDK_DIR}/ DESTINATION .)

# zerval_add_sdk_drivers(TARGET SOURCE_DIR BINARY_DIR [TOOLCHAIN]): drivers
# cross-built with mingw-w64 (or with the SDK's TOOLCHAIN file named, such as
# toolchain-i686-clang-cl.cmake) from the installed SDK only, after the
# image, as a neighbour team would build them (find_package(zerval) with the
# SDK in CMAKE_PREFIX_PATH, and the SDK's own toolchain file).
function(zerval_add_sdk_drivers target source binary)
  set(toolchain toolchain-i686-mingw.cmake)
  if(ARGC GREATER 3)
    set(toolchain ${ARGV3})
  endif()
  ExternalProject_Add(${target}
    SOURCE_DIR ${source}
    BINARY_DIR ${binary}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${ZERVAL_SDK_DIR}/share/zerval/${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_PREFIX_PATH=${ZERVAL_SDK_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    DEPENDS zerval_image)
endfunction()
