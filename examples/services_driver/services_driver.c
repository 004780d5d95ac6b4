/*
 * An example hardware-services driver, kelv.sys, for zerval.sys.
 *
 * zerval.sys calls Attach (exported as _Attach@16) with the address of its
 * hook table; this driver fills every hook.  It drives no hardware: its
 * answers follow one of the behaviours below, so that a display driver, a
 * test bench or zerval.sys itself can be tried against a real image.
 *
 * The behaviour is chosen at each attach by the AttachParam value that the
 * display driver passes to lDllAttach (and zerval.sys passes on unchanged);
 * KELV_DEFAULT_BEHAVIOUR, set when building, replaces the value 0.
 *
 * Plain C89, as older driver kits compile it; its build names the export
 * (zerval_driver's EXPORTS Attach@16), in either toolchain's syntax.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

#define KELV_ACCEPT_ALL 0u      /* every mode at every rate, usable */
#define KELV_REFUSE_ALL 1u      /* every query refused */
#define KELV_REWRITE_REFRESH 2u /* every query accepted at 60 Hz, whatever was asked */
#define KELV_FAIL_INIT 3u       /* pfnInit answers FALSE */
#define KELV_EMPTY_HOOKS 4u     /* Attach leaves the table as it was handed over */

#ifndef KELV_DEFAULT_BEHAVIOUR
#define KELV_DEFAULT_BEHAVIOUR KELV_ACCEPT_ALL
#endif

/* Attributes of every accepted mode. */
#define KELV_MODE_ATTRIBUTES 0x00050001u
/* Rate answered under KELV_REWRITE_REFRESH and for a default-rate request. */
#define KELV_FIXED_REFRESH 60u
/* What pfnGetFreeFramebufferSize answers: 4 MiB. */
#define KELV_FREE_FRAMEBUFFER_BYTES 0x00400000u

/* The bytes zerval.sys hands over, as the documented layout gives them: the
   buffer of pfnInit and the record of pfnQueryMode.  Each hook may write all
   of them, and this one does. */
#define KELV_INIT_BUFFER_BYTES 76u
#define KELV_QUERY_BYTES 16u
ZERVAL_STATIC_ASSERT(sizeof(ModeQuery) == KELV_QUERY_BYTES, kelv_answer_holds_the_record);
/* What pfnInit leaves in its buffer (zerval.sys discards it). */
#define KELV_INIT_REPORT 0x4Bu

static ULONG g_behaviour;
static ULONG g_initialValueCalls;

/* Copies n bytes one at a time (no C runtime in a driver); the destination
   is volatile so that every byte is stored. */
static void KelvCopy(volatile UCHAR *To, const UCHAR *From, ULONG n)
{
    ULONG i;
    for (i = 0; i < n; ++i)
        To[i] = From[i];
}

static BOOLEAN ZERVAL_CALL KelvInit(PVOID Buffer76)
{
    volatile UCHAR *report = (volatile UCHAR *)Buffer76;
    ULONG i;
    for (i = 0; i < KELV_INIT_BUFFER_BYTES; ++i)
        report[i] = (UCHAR)KELV_INIT_REPORT;
    return g_behaviour != KELV_FAIL_INIT;
}

static BOOLEAN ZERVAL_CALL KelvQueryMode(ModeQuery *Query, ULONG Zero)
{
    ModeQuery answer;
    (void)Zero;
    if (g_behaviour == KELV_REFUSE_ALL)
        return FALSE;
    KelvCopy((volatile UCHAR *)&answer, (const UCHAR *)Query, KELV_QUERY_BYTES);
    if (g_behaviour == KELV_REWRITE_REFRESH || (answer.Flags & ZERVAL_QUERY_DEFAULT_REFRESH))
        answer.Refresh = KELV_FIXED_REFRESH;
    answer.Attributes = KELV_MODE_ATTRIBUTES;
    /* The whole record handed back, its unchanged fields included. */
    KelvCopy((volatile UCHAR *)Query, (const UCHAR *)&answer, KELV_QUERY_BYTES);
    return TRUE;
}

static BOOLEAN ZERVAL_CALL KelvSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Zero;
    (void)Option;
    return Query->Width != 0 && Query->Height != 0;
}

/* Handles a request whose first value is non-zero (answers the sum of the
   three); hands every other one to the TV driver (negative answer). */
static LONG ZERVAL_CALL KelvPassThrough(ULONG A, ULONG B, ULONG C)
{
    return A != 0 ? (LONG)(A + B + C) : -1;
}

static BOOLEAN ZERVAL_CALL KelvFunction(ULONG Value) { return Value != 0; }

static ULONG ZERVAL_CALL KelvGetFreeFramebufferSize(VOID) { return KELV_FREE_FRAMEBUFFER_BYTES; }

static VOID ZERVAL_CALL KelvSetInitialValue(VOID) { ++g_initialValueCalls; }

/* Declared with the type zerval.sys calls it by: a definition of another
   convention or shape does not compile. */
ZERVAL_SERVICES_ATTACH Attach;

ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    g_behaviour = AttachParam != 0 ? (ULONG)AttachParam : KELV_DEFAULT_BEHAVIOUR;
    /* A table of another size or without the TV driver's entry is not ours. */
    if (Table == NULL || Table->Size != sizeof(DllExt) || Table->pfnTvControl == NULL ||
        g_behaviour == KELV_EMPTY_HOOKS)
        return 0;
    Table->pfnInit = KelvInit;
    Table->pfnQueryMode = KelvQueryMode;
    Table->pfnSetMode = KelvSetMode;
    Table->pfnPassThrough = KelvPassThrough;
    Table->pfnFunction = KelvFunction;
    Table->pfnGetFreeFramebufferSize = KelvGetFreeFramebufferSize;
    Table->pfnSetInitialValue = KelvSetInitialValue;
    return 1;
}

/* An export driver: the loader may or may not call this. */
ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0; /* STATUS_SUCCESS */
}
