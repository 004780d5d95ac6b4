/*
 * A services driver (kelv.sys) that answers like a correct one, except that
 * pfnGetFreeFramebufferSize answers an address inside the driver: a figure
 * that depends on where the loader put the image, so that Wine's report and
 * the emulator's differ in that one line.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

static ULONG g_somewhere;

static BOOLEAN ZERVAL_CALL AddressedInit(PVOID Buffer76)
{
    (void)Buffer76;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL AddressedQueryMode(ModeQuery *Query, ULONG Zero)
{
    (void)Zero;
    Query->Attributes = 0;
    return Query->BitsPerPixel == 16;
}

static BOOLEAN ZERVAL_CALL AddressedSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Query;
    (void)Zero;
    (void)Option;
    return TRUE;
}

static ULONG ZERVAL_CALL AddressedGetFreeFramebufferSize(VOID) { return (ULONG)(ULONG_PTR)&g_somewhere; }

ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = AddressedInit;
    Table->pfnQueryMode = AddressedQueryMode;
    Table->pfnSetMode = AddressedSetMode;
    Table->pfnGetFreeFramebufferSize = AddressedGetFreeFramebufferSize;
    return 1;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0;
}
