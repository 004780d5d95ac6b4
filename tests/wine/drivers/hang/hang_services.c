/*
 * A services driver (kelv.sys) whose Attach never returns: the runs must end
 * at their time limits, and leave nothing behind.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

static volatile ULONG g_spins;

ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)Table;
    (void)AttachParam;
    for (;;)
        ++g_spins;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0;
}
