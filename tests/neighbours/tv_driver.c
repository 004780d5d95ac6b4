/*
 * A TV driver, rmx.sys, that does nothing but answer: AttachRMX and
 * S_RMX_Control (0x40 plus the sum of the three values).  The definition file
 * it is linked with decides under which names they are exported.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_types.h"

ULONG ZERVAL_CALL AttachRMX(ULONG_PTR Context, ULONG_PTR Param)
{
    (void)Context;
    (void)Param;
    return 1;
}

/* RMX_MISTAKE_CDECL_CONTROL: S_RMX_Control is __cdecl, exported under the
   stdcall name (rmx_cdecl.def). */
#ifdef RMX_MISTAKE_CDECL_CONTROL
#define RMX_CONTROL_CALL __cdecl
#else
#define RMX_CONTROL_CALL ZERVAL_CALL
#endif

ULONG RMX_CONTROL_CALL S_RMX_Control(ULONG A, ULONG B, ULONG C) { return 0x40u + A + B + C; }

#ifdef RMX_FILLS
/* Fills a buffer the caller lends it for the call: word i holds i. */
ULONG ZERVAL_CALL RmxFill(volatile ULONG *Out, ULONG Words)
{
    ULONG i;
    for (i = 0; i < Words; ++i)
        Out[i] = i;
    return Words;
}
#endif

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0; /* STATUS_SUCCESS */
}
