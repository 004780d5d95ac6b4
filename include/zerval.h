/*
 * zerval.h - the interface of zerval.sys as a display (video miniport) driver
 * sees it: the exported functions and the exported data.  Usable from C (C89
 * on) and C++ (C++98 on).
 *
 * A display driver includes this file after its DDK headers and links against
 * the import library installed beside it: zerval.lib (cl.exe or clang-cl with
 * link.exe or lld-link) or libzerval.a (mingw-w64).
 */
#ifndef ZERVAL_H
#define ZERVAL_H

#include <stddef.h>

#include "zerval_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One row of the mode catalogue: 30 bytes, no gaps (five 16-bit fields after
   the name, so natural alignment leaves no padding). */
typedef struct ModeTableEntry {
    char   Name[20];      /* "640X480X256"-style label, NUL-padded; never read */
    USHORT Width;
    USHORT Height;
    USHORT BitsPerPixel;  /* 8, 16, 24 or 32 */
    USHORT Reserved;
    USHORT Disabled;      /* non-zero: row takes no part in the mode-list build */
} ModeTableEntry;

#define ZERVAL_MODE_TABLE_ROWS 62u
#define ZERVAL_FREQUENCY_TABLE_ENTRIES 16u

/* The published array begins with records the display driver fills itself:
   records 0 to ZERVAL_LEADING_RECORDS - 1 (0, 1 and 2); the modes found
   follow from record ZERVAL_LEADING_RECORDS on. */
#define ZERVAL_LEADING_RECORDS 3u

/* Length of a published record: 80 marks a usable mode, 0 an unusable one. */
#define ZERVAL_MODE_USABLE ((ULONG)sizeof(VIDEO_MODE_INFORMATION))
#define ZERVAL_MODE_UNUSABLE 0u

/* The tag of every pool block the module allocates (the published arrays,
   and the working list each attach frees again): "Bdll" in a pool dump, the
   bytes B, d, l, l. */
#define ZERVAL_POOL_TAG 0x6C6C6442u

/* SetMode results. */
#define ZERVAL_NO_ERROR 0u
#define ZERVAL_ERROR_INVALID_PARAMETER 87u

ZERVAL_STATIC_ASSERT(sizeof(ModeTableEntry) == 30, ModeTableEntry_is_30_bytes);
ZERVAL_STATIC_ASSERT(offsetof(ModeTableEntry, Width) == 20, ModeTableEntry_Width_at_20);
ZERVAL_STATIC_ASSERT(offsetof(ModeTableEntry, Disabled) == 28, ModeTableEntry_Disabled_at_28);
ZERVAL_STATIC_ASSERT(sizeof(VIDEO_MODE_INFORMATION) == 80, VIDEO_MODE_INFORMATION_is_80_bytes);

/* Binds the TV driver (AttachRMX) and the services driver (Attach, handed the
   hook table), has the hardware initialised through pfnInit, then builds and
   publishes the mode list.  Call below DISPATCH_LEVEL (PASSIVE_LEVEL as a
   rule): the build allocates paged pool.  ModeParam has no effect; Context,
   Param and AttachParam are passed on to the sibling drivers (zerval_hooks.h
   describes the sequence as they see it).
   TRUE: pfnInit succeeded; the byte at pResult (if not NULL) is cleared and a
   new list is published.  If the list's memory is refused the attach is still
   TRUE, NumModesFromBIOSDLL is 0 and ORVX_NUM_MODES and pModeInfoFromBIOSDLL
   keep the earlier list.
   FALSE: pfnInit failed, or the services driver left pfnInit, pfnQueryMode or
   pfnSetMode empty; the whole hook table is wiped (every optional service
   then answers its default), the byte at pResult is not written and the
   earlier list stays published.
   The module never frees a published array, on a repeated attach either. */
_IRQL_requires_max_(APC_LEVEL)
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL lDllAttach(ULONG_PTR Context, ULONG_PTR Param,
                                             ULONG_PTR ModeParam, ULONG_PTR AttachParam,
                                             _Out_opt_ UCHAR *pResult);

/* Asks the services driver again whether a mode record is usable and writes
   the answer into its Length; no other field changes.  Length 80 when
   pfnQueryMode accepts the record's depth, resolution and rate (low 16 bits
   of each) under Flags and answers a rate whose low 7 bits equal the low byte
   of Frequency; Length 0 otherwise: refused, answered at another rate, a
   Frequency whose low byte is 128 or more, or pfnQueryMode empty (no attached
   services driver, or one that emptied it).  A NULL Mode is ignored.  The
   query's Attributes go in as 0.
   The module touches only the record and the hook table here; a record of
   the published list lies in paged pool, so call below DISPATCH_LEVEL unless
   the record lies in non-paged memory. */
ZERVAL_IMPORT VOID ZERVAL_CALL vValidateMode(_Inout_opt_ VIDEO_MODE_INFORMATION *Mode, ULONG Flags);

/* Sets the mode a record describes: pfnQueryMode checks it (Flags: the
   record's DriverSpecificAttributeFlags, with bit 31 (0x80000000) set as well
   when Frequency is 0 or 1; the returned rate is not compared), then
   pfnSetMode programs it, handed the query as pfnQueryMode left it and the
   low byte of Option.  The record is only read, its Length not looked at.
   0: both hooks said TRUE.  87 (ERROR_INVALID_PARAMETER): the query was
   refused (pfnSetMode is then not called), the set failed, either hook is
   empty, or Mode is NULL.  The module touches only the record and the hook
   table here; a record of the published list lies in paged pool, so call
   below DISPATCH_LEVEL unless the record lies in non-paged memory. */
ZERVAL_IMPORT ULONG ZERVAL_CALL SetMode(_In_opt_ const VIDEO_MODE_INFORMATION *Mode, ULONG Option);

/* Forwarded services; each reads its hook when called and answers with a
   default when the hook is empty, so they may be called before an attach:
   Orvalen_Function: pfnFunction's result, FALSE when empty.
   MeltoBiosDll: the low byte of pfnPassThrough's result when it is 0 or more;
     on a negative result the low byte of pfnTvControl's (the TV driver's
     S_RMX_Control, unless the services driver changed the slot), asked with
     the same three values; FALSE when pfnPassThrough is empty, or when the
     result is negative and pfnTvControl is empty.
   GetFreeFramebufferSize: pfnGetFreeFramebufferSize's result, 0 when empty.
   BiosDllSetInitialValue: calls pfnSetInitialValue if filled; always 1.
   The module touches only the hook table (non-paged) here: callable at any
   IRQL at which the hook behind the entry may be called. */
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL Orvalen_Function(ULONG Value);
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL MeltoBiosDll(ULONG A, ULONG B, ULONG C);
ZERVAL_IMPORT ULONG ZERVAL_CALL GetFreeFramebufferSize(VOID);
ZERVAL_IMPORT ULONG ZERVAL_CALL BiosDllSetInitialValue(VOID);

/* The catalogue, writable: each attach reads it as it then stands.  Set a
   row's Disabled to leave it out; the build reads the first modeTableSize
   rows and freqTableSize rates, a larger size counting as the table's length
   (62, 16), so it never reads past a table. */
ZERVAL_IMPORT extern ModeTableEntry modetable[ZERVAL_MODE_TABLE_ROWS];
ZERVAL_IMPORT extern ULONG modeTableSize;
ZERVAL_IMPORT extern ULONG frequencytable[ZERVAL_FREQUENCY_TABLE_ENTRIES];
ZERVAL_IMPORT extern ULONG freqTableSize;

/* The published mode list: pModeInfoFromBIOSDLL, an array of ORVX_NUM_MODES
   records, the first three left to the display driver, then the modes found,
   in catalogue order (zerval_hooks.h gives the build's rules).  After a build
   that published, NumModesFromBIOSDLL is ORVX_NUM_MODES - 3
   (ZERVAL_LEADING_RECORDS).  After a build
   whose working memory was refused, NumModesFromBIOSDLL is 0 while
   ORVX_NUM_MODES and pModeInfoFromBIOSDLL still describe the earlier list
   (0 and NULL before any): size the array by ORVX_NUM_MODES.  The array is
   allocated from paged pool at each attach and never freed by the module; it
   is zero-filled, and the module writes only these fields of records 3 and
   on: Length (80 usable, 0 not), VisScreenWidth, VisScreenHeight,
   BitsPerPlane, Frequency (the low byte of the rate the services driver
   answered) and DriverSpecificAttributeFlags (the upper 16 bits of its
   Attributes, shifted down). */
ZERVAL_IMPORT extern ULONG NumModesFromBIOSDLL;
ZERVAL_IMPORT extern ULONG ORVX_NUM_MODES;
ZERVAL_IMPORT extern VIDEO_MODE_INFORMATION *pModeInfoFromBIOSDLL;

#ifdef __cplusplus
}
#endif

#endif /* ZERVAL_H */
