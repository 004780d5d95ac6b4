# How a driver of the stack is compiled and linked for 32-bit Windows, in
# either compiler dialect (mingw-w64 gcc and ld; clang-cl or cl.exe with
# lld-link or link.exe).  Read by the SDK's package file (zerval-config.cmake,
# beside it) and by the image build for its example display driver.
#
# ZERVAL_DRIVER_FLAGS and ZERVAL_DRIVER_LINK_FLAGS: what the driver ABI needs
# and nothing else - kernel code, freestanding, no C runtime, no stack probes
# or cookies, no floating-point or SIMD registers; stdcall names kept exactly
# as decorated; a native image at the usual base, relocatable.
# ZERVAL_DRIVER_STRICT_FLAGS: this project's own language standard,
# optimisation and warnings-as-errors, for whoever asks for them.
if(MSVC)
  set(ZERVAL_DRIVER_FLAGS /GS- /Zl /Gs1000000 /arch:IA32)
  if(CMAKE_C_COMPILER_ID STREQUAL "Clang")
    # Without -ffreestanding clang's intrin.h and mingw-w64's setjmp.h both
    # declare _setjmp.
    list(APPEND ZERVAL_DRIVER_FLAGS /clang:-ffreestanding /clang:-mno-80387 /clang:-mno-mmx)
  endif()
  set(ZERVAL_DRIVER_LINK_FLAGS
    /DRIVER /SUBSYSTEM:NATIVE /ENTRY:DriverEntry /NODEFAULTLIB /SAFESEH:NO
    /BASE:0x10000 /DYNAMICBASE /MANIFEST:NO /Brepro)
  set(ZERVAL_DRIVER_STRICT_FLAGS /O1 /W4 /WX)
else()
  set(ZERVAL_DRIVER_FLAGS
    -ffreestanding -fno-builtin -fno-stack-protector -mno-stack-arg-probe
    -mgeneral-regs-only -fno-asynchronous-unwind-tables)
  set(ZERVAL_DRIVER_LINK_FLAGS
    -nostdlib -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8
    -Wl,--image-base,0x10000 -Wl,--dynamicbase -Wl,--enable-reloc-section
    -Wl,--disable-stdcall-fixup -Wl,--disable-auto-import -Wl,--no-insert-timestamp)
  set(ZERVAL_DRIVER_STRICT_FLAGS -std=c11 -Os -Wall -Wextra -Werror)
endif()
