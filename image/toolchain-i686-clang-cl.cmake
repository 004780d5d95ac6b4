# Cross toolchain for the driver image in the MSVC dialect: clang-cl and
# lld-link for i686-pc-windows-msvc (LLVM 14), with the mingw-w64 headers for
# the platform's declarations.  The same toolchain file would serve cl.exe and
# link.exe on Windows once these names are changed; that use is not tested.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZERVAL_LLVM_SUFFIX -14)
set(CMAKE_C_COMPILER clang-cl${ZERVAL_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER clang-cl${ZERVAL_LLVM_SUFFIX})
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER lld-link${ZERVAL_LLVM_SUFFIX})
set(CMAKE_AR llvm-lib${ZERVAL_LLVM_SUFFIX})
set(CMAKE_RC_COMPILER llvm-rc${ZERVAL_LLVM_SUFFIX})
set(CMAKE_MT llvm-mt${ZERVAL_LLVM_SUFFIX})
# Where the platform's headers and kernel import libraries are found.
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The compiler checks would try to link a program with the C runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No compiler launcher, whatever the environment sets: a caching launcher
# that takes clang-cl for cl.exe can lose the object of a compile written
# with -c, as CMake writes it, and leave the link to fail.
set(CMAKE_C_COMPILER_LAUNCHER "" CACHE STRING "" FORCE)
set(CMAKE_CXX_COMPILER_LAUNCHER "" CACHE STRING "" FORCE)
