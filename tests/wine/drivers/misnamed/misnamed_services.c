/*
 * A services driver (kelv.sys) that exports its attach entry under the wrong
 * decorated name (_Attach@12, where zerval.sys imports _Attach@16): the
 * loader must say so.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table)
{
    (void)Context;
    (void)Param;
    (void)Table;
    return 0;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0;
}
