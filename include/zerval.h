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

/* One row of the mode catalogue: 30 bytes, packed to 2-byte alignment. */
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

/* Length of a published record: 80 marks a usable mode, 0 an unusable one. */
#define ZERVAL_MODE_USABLE ((ULONG)sizeof(VIDEO_MODE_INFORMATION))
#define ZERVAL_MODE_UNUSABLE 0u

/* SetMode results. */
#define ZERVAL_NO_ERROR 0u
#define ZERVAL_ERROR_INVALID_PARAMETER 87u

ZERVAL_STATIC_ASSERT(sizeof(ModeTableEntry) == 30, ModeTableEntry_is_30_bytes);
ZERVAL_STATIC_ASSERT(offsetof(ModeTableEntry, Width) == 20, ModeTableEntry_Width_at_20);
ZERVAL_STATIC_ASSERT(offsetof(ModeTableEntry, Disabled) == 28, ModeTableEntry_Disabled_at_28);
ZERVAL_STATIC_ASSERT(sizeof(VIDEO_MODE_INFORMATION) == 80, VIDEO_MODE_INFORMATION_is_80_bytes);

/* Binds the TV and services drivers, initialises the hardware and publishes
   the mode list.  TRUE when the services driver's init succeeded; then the byte
   at pResult (if any) is cleared.  The mode list is allocated from paged pool,
   so call it at PASSIVE_LEVEL or APC_LEVEL. */
_IRQL_requires_max_(APC_LEVEL)
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL lDllAttach(ULONG_PTR Context, ULONG_PTR Param,
                                             ULONG_PTR ModeParam, ULONG_PTR AttachParam,
                                             _Out_opt_ UCHAR *pResult);

/* Re-checks a mode record: Length becomes 80 (usable) or 0. */
ZERVAL_IMPORT VOID ZERVAL_CALL vValidateMode(_Inout_ VIDEO_MODE_INFORMATION *Mode, ULONG Flags);

/* Sets a mode: 0, or 87 when the services driver refuses it. */
ZERVAL_IMPORT ULONG ZERVAL_CALL SetMode(_In_ const VIDEO_MODE_INFORMATION *Mode, ULONG Option);

/* Forwarded services; each answers with a default when its hook is empty. */
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL Orvalen_Function(ULONG Value);
ZERVAL_IMPORT BOOLEAN ZERVAL_CALL MeltoBiosDll(ULONG A, ULONG B, ULONG C);
ZERVAL_IMPORT ULONG ZERVAL_CALL GetFreeFramebufferSize(VOID);
ZERVAL_IMPORT ULONG ZERVAL_CALL BiosDllSetInitialValue(VOID);

/* The catalogue, writable: each attach reads it as it then stands. */
ZERVAL_IMPORT extern ModeTableEntry modetable[ZERVAL_MODE_TABLE_ROWS];
ZERVAL_IMPORT extern ULONG modeTableSize;
ZERVAL_IMPORT extern ULONG frequencytable[ZERVAL_FREQUENCY_TABLE_ENTRIES];
ZERVAL_IMPORT extern ULONG freqTableSize;

/* The published mode list: ORVX_NUM_MODES records, the first three left to
   the display driver, then NumModesFromBIOSDLL modes in catalogue order. */
ZERVAL_IMPORT extern ULONG NumModesFromBIOSDLL;
ZERVAL_IMPORT extern ULONG ORVX_NUM_MODES;
ZERVAL_IMPORT extern VIDEO_MODE_INFORMATION *pModeInfoFromBIOSDLL;

#ifdef __cplusplus
}
#endif

#endif /* ZERVAL_H */
