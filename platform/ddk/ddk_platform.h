// ddk_platform.h - the image build's view of the kernel, from the DDK headers
// that mingw-w64 ships (or the driver kit's, with cl.exe).
#ifndef ZERVAL_DDK_PLATFORM_H
#define ZERVAL_DDK_PLATFORM_H

// wdm.h defines these two itself; keep intrin.h from defining them first.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntdef.h>
// mingw-w64's FIELD_OFFSET is a constant expression only under gcc, and wdm.h
// uses it in compile-time checks; every compiler that builds the image has
// __builtin_offsetof.
#if defined(__MINGW64_VERSION_MAJOR) && !defined(__GNUC__)
#undef FIELD_OFFSET
#define FIELD_OFFSET(Type, Field) __builtin_offsetof(Type, Field)
#endif
#include <ntddk.h>
#include <ntddvdeo.h>

#include "video_port.h"

#define ZERVAL_SIBLING_IMPORT __declspec(dllimport)

#endif // ZERVAL_DDK_PLATFORM_H
