/*
 * A services driver (kelv.sys) whose answers are not the example's: it
 * accepts only 8-, 16- and 32-bit modes, answers some rates at another rate,
 * refuses some modes only when asked whether they are usable, gives each mode
 * its own attributes, keeps state across calls (the last mode set, the
 * initial-value calls) and reports its own free-framebuffer figure.  The Wine
 * route must show the same answers as the emulator.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

/* 8 MiB of video memory; what is not taken by the mode set last is free. */
#define TEAM_VIDEO_MEMORY_BYTES 0x00800000u

static ULONG g_setBytes;          /* the framebuffer of the mode set last */
static ULONG g_initialValueCalls;

static BOOLEAN ZERVAL_CALL TeamInit(PVOID Buffer76)
{
    (void)Buffer76;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL TeamQueryMode(ModeQuery *Query, ULONG Zero)
{
    const ULONG bytes = (ULONG)Query->Width * Query->Height * (Query->BitsPerPixel / 8u);
    (void)Zero;
    if (Query->BitsPerPixel == 24 || bytes > TEAM_VIDEO_MEMORY_BYTES)
        return FALSE;
    /* 44 and 48 Hz are answered at 60; 56 Hz at 56 with bit 7 set. */
    if (Query->Refresh == 44 || Query->Refresh == 48)
        Query->Refresh = 60;
    else if (Query->Refresh == 56)
        Query->Refresh = 56 | 0x80;
    /* Above 100 Hz from 1280 pixels on: listed, but not usable. */
    if (Query->Flags == ZERVAL_QUERY_USABLE && Query->Width >= 1280 && Query->Refresh > 100)
        return FALSE;
    Query->Attributes = ((ULONG)Query->Width << 16) | ((ULONG)Query->BitsPerPixel << 8) | (Query->Refresh & 0xFFu);
    return TRUE;
}

static BOOLEAN ZERVAL_CALL TeamSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Zero;
    if (Option == 0xFF && Query->Width > 1024)
        return FALSE;
    g_setBytes = (ULONG)Query->Width * Query->Height * (Query->BitsPerPixel / 8u);
    return TRUE;
}

static LONG ZERVAL_CALL TeamPassThrough(ULONG A, ULONG B, ULONG C)
{
    return A >= 0x100u ? -1 : (LONG)(A * B + C + g_initialValueCalls);
}

static BOOLEAN ZERVAL_CALL TeamFunction(ULONG Value) { return (BOOLEAN)(Value & 3u); }

static ULONG ZERVAL_CALL TeamGetFreeFramebufferSize(VOID) { return TEAM_VIDEO_MEMORY_BYTES - g_setBytes; }

static VOID ZERVAL_CALL TeamSetInitialValue(VOID) { ++g_initialValueCalls; }

ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = TeamInit;
    Table->pfnQueryMode = TeamQueryMode;
    Table->pfnSetMode = TeamSetMode;
    Table->pfnPassThrough = TeamPassThrough;
    Table->pfnFunction = TeamFunction;
    Table->pfnGetFreeFramebufferSize = TeamGetFreeFramebufferSize;
    Table->pfnSetInitialValue = TeamSetInitialValue;
    return 1;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0;
}
