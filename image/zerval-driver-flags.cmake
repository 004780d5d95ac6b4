# How a driver of the stack is compiled and linked with mingw-w64 for 32-bit
# Windows: kernel code, freestanding, no CRT, no stack probes, no FPU or SIMD
# registers; an export driver's image at the usual base, relocatable.  Read
# by the SDK's package file (zerval-config.cmake, beside it) and by the image
# build for its example display driver.
set(ZERVAL_DRIVER_FLAGS
  -std=c11 -Os -ffreestanding -fno-builtin -fno-stack-protector -mno-stack-arg-probe
  -mgeneral-regs-only -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)
set(ZERVAL_DRIVER_LINK_FLAGS
  -nostdlib -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8
  -Wl,--image-base,0x10000 -Wl,--dynamicbase -Wl,--enable-reloc-section
  -Wl,--disable-stdcall-fixup -Wl,--disable-auto-import -Wl,--no-insert-timestamp)
