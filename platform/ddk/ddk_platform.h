// ddk_platform.h - the image build's view of the kernel, from the DDK headers
// that mingw-w64 ships (or the driver kit's, with cl.exe).
#ifndef ZERVAL_DDK_PLATFORM_H
#define ZERVAL_DDK_PLATFORM_H

// wdm.h defines these two itself; keep intrin.h from defining them first.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
// With clang-cl, <ntdef.h> is image/msvc-shims/ntdef.h first, which makes
// mingw-w64's FIELD_OFFSET a constant expression for wdm.h's checks.
#include <ntdef.h>
#include <ntddk.h>
#include <ntddvdeo.h>

#include "video_port.h"

#define ZERVAL_SIBLING_IMPORT __declspec(dllimport)

#endif // ZERVAL_DDK_PLATFORM_H
