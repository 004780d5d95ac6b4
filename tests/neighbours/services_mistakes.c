/*
 * A services driver, kelv.sys, that accepts every mode at every rate, built
 * once per mistake a services-driver team can make (KELV_MISTAKE_...), so
 * that the tests can hold zerval-sim to what it says about each:
 *
 *   CDECL_ATTACH        Attach is __cdecl: it returns without popping its 16 bytes
 *   QUERY_PAST_16       pfnQueryMode writes the 4 bytes after the 16-byte record
 *   QUERY_PAST_144      pfnQueryMode writes 4 bytes at 144 past the record's start
 *   BEFORE_QUERY        pfnQueryMode writes the 4 bytes before the record
 *   INIT_PAST_76        pfnInit writes the 4 bytes after its 76-byte buffer
 *   QUERY_CLOBBERS_EBX  pfnQueryMode returns with EBX changed
 *   NO_SET_MODE         Attach leaves pfnSetMode empty
 *   CDECL_<HOOK>        that hook is __cdecl (INIT, QUERY_MODE, SET_MODE,
 *                       PASS_THROUGH, FUNCTION, FREE_FRAMEBUFFER, INITIAL_VALUE)
 *   KEEPS_QUERY         pfnQueryMode keeps the record's address and, handed
 *                       another record later, writes the one it kept
 *   KEEPS_QUERY_FOR_FUNCTION  pfnFunction writes the last record pfnQueryMode
 *                       was handed
 *   FUNCTION_CLOBBERS_EBX      pfnFunction returns with EBX changed
 *   FUNCTION_WRITES_CALLERS    pfnFunction writes the 4 bytes above its argument
 *   NONE                no mistake (the misspelt export is in the .def file)
 *   LENDS_BUFFER        no mistake: pfnFunction lends a buffer of its own frame
 *                       to the TV driver (rmx_fills.sys's RmxFill), which fills it
 *
 * Every hook is filled; the optional ones answer as the example does.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

/* The bytes zerval.sys hands to pfnInit and with each query, as the
   documented layout gives them. */
#define KELV_INIT_BUFFER_BYTES 76u
#define KELV_QUERY_BYTES 16u

#ifdef KELV_MISTAKE_CDECL_ATTACH
#define KELV_ATTACH_CALL __cdecl
#else
#define KELV_ATTACH_CALL ZERVAL_CALL
#endif

/* The convention each hook is compiled with: the table's, or __cdecl where
   the mistake says so (the table then holds it through a cast). */
#ifdef KELV_MISTAKE_CDECL_INIT
#define KELV_INIT_CALL __cdecl
#else
#define KELV_INIT_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_QUERY_MODE
#define KELV_QUERY_MODE_CALL __cdecl
#else
#define KELV_QUERY_MODE_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_SET_MODE
#define KELV_SET_MODE_CALL __cdecl
#else
#define KELV_SET_MODE_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_PASS_THROUGH
#define KELV_PASS_THROUGH_CALL __cdecl
#else
#define KELV_PASS_THROUGH_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_FUNCTION
#define KELV_FUNCTION_CALL __cdecl
#else
#define KELV_FUNCTION_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_FREE_FRAMEBUFFER
#define KELV_FREE_FRAMEBUFFER_CALL __cdecl
#else
#define KELV_FREE_FRAMEBUFFER_CALL ZERVAL_CALL
#endif
#ifdef KELV_MISTAKE_CDECL_INITIAL_VALUE
#define KELV_INITIAL_VALUE_CALL __cdecl
#else
#define KELV_INITIAL_VALUE_CALL ZERVAL_CALL
#endif

/* The last record pfnQueryMode was handed (KEEPS_QUERY...). */
static ModeQuery *g_kept;
/* Where pfnFunction's argument lies (FUNCTION_WRITES_CALLERS). */
static volatile ULONG_PTR g_argument;

/* Writes a 32-bit value `offset` bytes from the start of what it was handed. */
#define SCRIBBLE(handed, offset) (*(volatile ULONG *)((UCHAR *)(handed) + (offset)) = 0xDEADBEEFu)

static BOOLEAN KELV_INIT_CALL KelvInit(PVOID Buffer76)
{
#ifdef KELV_MISTAKE_INIT_PAST_76
    SCRIBBLE(Buffer76, KELV_INIT_BUFFER_BYTES);
#else
    (void)Buffer76;
#endif
    return TRUE;
}

static BOOLEAN KELV_QUERY_MODE_CALL KelvQueryMode(ModeQuery *Query, ULONG Zero)
{
    (void)Zero;
#if defined(KELV_MISTAKE_KEEPS_QUERY)
    if (g_kept != NULL && g_kept != Query)
        SCRIBBLE(g_kept, 0);
#endif
    g_kept = Query;
#if defined(KELV_MISTAKE_QUERY_PAST_16)
    SCRIBBLE(Query, KELV_QUERY_BYTES);
#elif defined(KELV_MISTAKE_QUERY_PAST_144)
    SCRIBBLE(Query, 144);
#elif defined(KELV_MISTAKE_BEFORE_QUERY)
    SCRIBBLE(Query, -4);
#elif defined(KELV_MISTAKE_QUERY_CLOBBERS_EBX)
    __asm__ volatile("movl $0x0BADF00D, %ebx");
#endif
    Query->Attributes = 0x00050001u;
    return TRUE;
}

static BOOLEAN KELV_SET_MODE_CALL KelvSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Query;
    (void)Zero;
    (void)Option;
    return TRUE;
}

static LONG KELV_PASS_THROUGH_CALL KelvPassThrough(ULONG A, ULONG B, ULONG C)
{
    return A != 0 ? (LONG)(A + B + C) : -1;
}

#ifdef KELV_MISTAKE_LENDS_BUFFER
#define KELV_LENT_WORDS 64u
/* The TV driver's (rmx_fills.def exports it as _RmxFill@8). */
__declspec(dllimport) ULONG ZERVAL_CALL _RmxFill(volatile ULONG *Out, ULONG Words);
#endif

static BOOLEAN KELV_FUNCTION_CALL KelvFunction(ULONG Value)
{
#if defined(KELV_MISTAKE_KEEPS_QUERY_FOR_FUNCTION)
    if (g_kept != NULL)
        SCRIBBLE(g_kept, 4);
#elif defined(KELV_MISTAKE_FUNCTION_CLOBBERS_EBX)
    __asm__ volatile("movl $0x0BADF00D, %ebx");
#elif defined(KELV_MISTAKE_FUNCTION_WRITES_CALLERS)
    /* Through an address the compiler cannot see past: the slot above Value. */
    g_argument = (ULONG_PTR)&Value;
    SCRIBBLE(g_argument, 4);
#elif defined(KELV_MISTAKE_LENDS_BUFFER)
    volatile ULONG lent[KELV_LENT_WORDS];
    _RmxFill(lent, KELV_LENT_WORDS);
    return lent[Value % KELV_LENT_WORDS] != 0;
#endif
    return Value != 0;
}

static ULONG KELV_FREE_FRAMEBUFFER_CALL KelvGetFreeFramebufferSize(VOID) { return 0x00400000u; }

static ULONG g_initialValueCalls;
static VOID KELV_INITIAL_VALUE_CALL KelvSetInitialValue(VOID) { ++g_initialValueCalls; }

ULONG KELV_ATTACH_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = (PFN_ZERVAL_INIT)KelvInit;
    Table->pfnQueryMode = (PFN_ZERVAL_QUERY_MODE)KelvQueryMode;
#ifndef KELV_MISTAKE_NO_SET_MODE
    Table->pfnSetMode = (PFN_ZERVAL_SET_MODE)KelvSetMode;
#else
    (void)KelvSetMode;
#endif
    Table->pfnPassThrough = (PFN_ZERVAL_PASS_THROUGH)KelvPassThrough;
    Table->pfnFunction = (PFN_ZERVAL_FUNCTION)KelvFunction;
    Table->pfnGetFreeFramebufferSize = (PFN_ZERVAL_GET_FREE_FRAMEBUFFER_SIZE)KelvGetFreeFramebufferSize;
    Table->pfnSetInitialValue = (PFN_ZERVAL_SET_INITIAL_VALUE)KelvSetInitialValue;
    return 1;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0; /* STATUS_SUCCESS */
}
