/*
 * A services driver (kelv.sys) whose attach entry is __cdecl behind the
 * stdcall name _Attach@16: it returns without popping its 16 bytes of
 * arguments, which the caller expected it to.  The emulator refuses the call;
 * under Wine the caller's stack is off by 16 bytes from then on.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

static BOOLEAN ZERVAL_CALL CdeclInit(PVOID Buffer76)
{
    (void)Buffer76;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL CdeclQueryMode(ModeQuery *Query, ULONG Zero)
{
    (void)Zero;
    Query->Attributes = 0;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL CdeclSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Query;
    (void)Zero;
    (void)Option;
    return TRUE;
}

ULONG __cdecl Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = CdeclInit;
    Table->pfnQueryMode = CdeclQueryMode;
    Table->pfnSetMode = CdeclSetMode;
    return 1;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0;
}
