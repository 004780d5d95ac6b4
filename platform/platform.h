// platform.h - the module's only view of its surroundings: the kernel's pool,
// the video port's memory clearing, and the two sibling drivers' entries.
//
// The image build takes the types and the kernel declarations from the DDK
// headers; the host build takes them from the host definitions and resolves
// the calls at link time against whatever the host program links.
#ifndef ZERVAL_PLATFORM_H
#define ZERVAL_PLATFORM_H

#if defined(ZERVAL_IMAGE)
#include "ddk/ddk_platform.h"
#else
#include "host/host_platform.h"
#endif

#include "zerval_hooks.h"

// The sibling drivers' entries, imported from kelv.sys and rmx.sys.
extern "C" {
ZERVAL_SIBLING_IMPORT ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table,
                                               ULONG_PTR AttachParam);
ZERVAL_SIBLING_IMPORT ULONG ZERVAL_CALL AttachRMX(ULONG_PTR Context, ULONG_PTR Param);
ZERVAL_SIBLING_IMPORT ULONG ZERVAL_CALL S_RMX_Control(ULONG A, ULONG B, ULONG C);
}

#endif // ZERVAL_PLATFORM_H
