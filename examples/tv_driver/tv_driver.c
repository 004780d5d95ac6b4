/*
 * An example TV driver, rmx.sys, for zerval.sys.
 *
 * zerval.sys calls AttachRMX (exported as _AttachRMX@8) at each attach and
 * places S_RMX_Control (exported as _S_RMX_Control@12) in its hook table,
 * where the services driver finds it too.  zerval.sys calls S_RMX_Control
 * when the services driver hands a pass-through request on; this one answers
 * 0x40 plus the sum of the three values (only the low byte reaches the
 * display driver).
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

#define RMX_CONTROL_BASE 0x40u

static ULONG g_attaches;

/* Declared with the types zerval.sys calls them by: a definition of another
   convention or shape does not compile. */
ZERVAL_TV_ATTACH AttachRMX;
ZERVAL_TV_CONTROL S_RMX_Control;

ULONG ZERVAL_CALL AttachRMX(ULONG_PTR Context, ULONG_PTR Param)
{
    (void)Context;
    (void)Param;
    ++g_attaches;
    return 1;
}

ULONG ZERVAL_CALL S_RMX_Control(ULONG A, ULONG B, ULONG C) { return RMX_CONTROL_BASE + A + B + C; }

/* An export driver: the loader may or may not call this. */
ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0; /* STATUS_SUCCESS */
}
