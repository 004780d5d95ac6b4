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
 *   NONE                no mistake (the misspelt export is in the .def file)
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

/* Writes a 32-bit value `offset` bytes from the start of what it was handed. */
#define SCRIBBLE(handed, offset) (*(volatile ULONG *)((UCHAR *)(handed) + (offset)) = 0xDEADBEEFu)

static BOOLEAN ZERVAL_CALL KelvInit(PVOID Buffer76)
{
#ifdef KELV_MISTAKE_INIT_PAST_76
    SCRIBBLE(Buffer76, KELV_INIT_BUFFER_BYTES);
#else
    (void)Buffer76;
#endif
    return TRUE;
}

static BOOLEAN ZERVAL_CALL KelvQueryMode(ModeQuery *Query, ULONG Zero)
{
    (void)Zero;
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

static BOOLEAN ZERVAL_CALL KelvSetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Query;
    (void)Zero;
    (void)Option;
    return TRUE;
}

ULONG KELV_ATTACH_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = KelvInit;
    Table->pfnQueryMode = KelvQueryMode;
#ifndef KELV_MISTAKE_NO_SET_MODE
    Table->pfnSetMode = KelvSetMode;
#else
    (void)KelvSetMode;
#endif
    return 1;
}

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return 0; /* STATUS_SUCCESS */
}
