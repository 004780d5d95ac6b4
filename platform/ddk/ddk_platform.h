// ddk_platform.h - the image build's view of the kernel, from the DDK headers
// that mingw-w64 ships.
#ifndef ZERVAL_DDK_PLATFORM_H
#define ZERVAL_DDK_PLATFORM_H

// wdm.h defines these two itself; keep intrin.h from defining them first.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntdef.h>
#undef FIELD_OFFSET
#define FIELD_OFFSET(Type, Field) __builtin_offsetof(Type, Field)
#include <ntddk.h>
#include <ntddvdeo.h>

#include "video_port.h"

#define ZERVAL_SIBLING_IMPORT __declspec(dllimport)

#endif // ZERVAL_DDK_PLATFORM_H
